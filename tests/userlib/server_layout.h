// A mail server laid out in a temporary directory for one test: registry
// key, main settings file, data files and a copy of a built user library;
// and what the platform tells about a library the extension has loaded.
#pragma once

#include "devkit/userlib/layout_text.h"
#include "platform/win32.h"
#include "tests/temp_directory.h"
#include "userlib/user_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version);
EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD flags);

// "VLUser" + type + the platform's library extension.
std::string LibraryFileName(const std::string& type);
// The sample mail server's directory in the source tree.
fs::path SampleDirectory();

class ServerLayout {
    TempDirectory temp_; // first: every path below lies in it

public:
    ServerLayout();
    ~ServerLayout();
    ServerLayout(const ServerLayout&) = delete;
    ServerLayout& operator=(const ServerLayout&) = delete;

    // Makes the mail server's key hold exactly these values.
    void WriteRegistry(const RegistryValues& values);
    void WriteRegistry(const fs::path& appPath, const fs::path& iniPath);
    void RemoveRegistryKey();

    // A main settings file naming this layout's data files; the accounts
    // file may be given elsewhere.
    void WriteMainSettings(const fs::path& at, const std::string& libraryType);
    void WriteMainSettings(const fs::path& at, const std::string& libraryType, const fs::path& accounts);
    void WriteAccounts(const std::string& text) const;

    // Copies the built library of this type into the directory and returns
    // the copy's path: "NoFrozen", "NoReload" and "NoGroupMember" each lack
    // one entry point, "Dependent" (Windows only) imports from a DLL of its
    // own, every other type is the stand-in under that name.
    fs::path InstallLibrary(const fs::path& directory, const std::string& type) const;

    // A path under the layout of exactly this many characters, its parent
    // directories created.
    fs::path PathOfLength(size_t length) const;

    const fs::path root = temp_.File("server");
    const fs::path appDirectory = root / "App";
    const fs::path mainSettings = root / "Velmora.ini";
    const fs::path accounts = root / "Accounts.txt";
    const fs::path aliases = root / "Aliases.txt";
    const fs::path settings = root / "Settings.ini";
};

bool IsLoaded(const fs::path& library);
// An export of a library that is loaded now, or nullptr.
void* LoadedExport(const fs::path& library, const char* name);
int32_t DevCount(const fs::path& library, const char* name);

// Every test starts with nothing bound and ends with the extension
// terminated, whatever it asserted on the way.
class ExtensionLoadTest : public testing::Test {
protected:
    void SetUp() override { gUserLibrary = BindingTable{}; }
    void TearDown() override { TerminateExtension(0); }

    static BOOL Load()
    {
        HSE_VERSION_INFO version{};
        return GetExtensionVersion(&version);
    }

    // The default server: VLUser in its application directory, the given
    // accounts, registry and main settings file in place.
    fs::path LayOut(const std::string& accountsText)
    {
        fs::path library = server.InstallLibrary(server.appDirectory, "");
        server.WriteAccounts(accountsText);
        server.WriteMainSettings(server.mainSettings, "");
        server.WriteRegistry(server.appDirectory, server.mainSettings);
        return library;
    }

    ServerLayout server;
};
