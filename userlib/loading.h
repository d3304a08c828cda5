// Loading the extension: finding the installed mail server through the
// registry and its main settings file, loading its user library, binding and
// testing the entry points, and keeping GroupNames in the settings file. The
// steps are written once, here; the host's load runs them, and the doctor
// runs them with an observer that reports each one.
#pragma once

#include "platform/win32.h"
#include "userlib/settings.h"
#include "userlib/user_library.h"

#include <cstddef>
#include <optional>

constexpr char kServerKeyPath[] = "Software\\Norvane\\Velmora";
constexpr size_t kRegistryValueLimit = 254;
constexpr size_t kLibraryTypeSize = 16;
constexpr size_t kLibraryPathSize = 256;

// Where the user library lies, found step by step into fixed buffers.
struct UserLibraryLocation {
    char applicationDirectory[kRegistryValueLimit] = {};
    char settingsPath[kRegistryValueLimit] = {};
    char libraryType[kLibraryTypeSize] = {};
    char libraryPath[kLibraryPathSize] = {};
};

// How reading one value of the mail server's key went.
enum class ServerValue {
    kRead,
    kNoKey,
    kMissing, // or unreadable for another reason
    kTooLong,
    kEmpty,
};

// What each step saw, in the order the steps run; loading stops at the first
// step that fails. Loading with an observer writes nothing, and reads a file
// only where SafeToRead agrees: a path may name a device or a pipe that would
// never answer, which a report must not wait for.
class LoadObserver {
public:
    virtual bool SafeToRead(const char* path) = 0;
    // AppPath, then IniPath; the value is the buffer as read, whatever the
    // type the registry stores it as (REG_NONE when there is no key).
    virtual void ServerValueRead(const char* name, ServerValue result, const char* value, DWORD type) = 0;
    // [Advanced] UserDllType of the main settings file; empty when not read.
    virtual void LibraryTypeRead(const UserLibraryLocation& location, bool read) = 0;
    virtual void LibraryPathComposed(const UserLibraryLocation& location, bool fits) = 0;
    virtual void LibraryLoaded(const char* libraryPath, bool loaded) = 0;
    virtual void EntryPointsBound(const BindingTable& table) = 0;
    virtual void UsersReloaded(bool reloaded) = 0;
    virtual void LoadTested(bool passed) = 0;
    // The settings file as the user library names it (null without
    // VL_GetDBPath) and what it holds (nothing when it was not read).
    virtual void SettingsFound(const char* settingsPath, std::optional<GroupNamesSetting> setting) = 0;

protected:
    ~LoadObserver() = default;
};

// Runs every load step in order and reports each one to the observer, if
// there is one. False when a step refuses the library, which is then left
// unloaded. Without an observer, GroupNames is added empty to a settings
// file that lacks it.
bool LoadExtension(LoadObserver* observer);

// Unloads the user library and empties the binding table.
void ReleaseUserLibrary();

// True from the end of a LoadExtension that succeeded until the library is
// released: the doctor tells a library that ends its process while the
// extension loads from one that does so later.
bool ExtensionLoaded();
