// What the extension calls in the mail server's user library, and the
// process-wide table of bound entry points. The table is written only while
// the host loads and unloads the extension, and only read in between.
#pragma once

#include "userlib/entry_point_list.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using UserHandle = int64_t;
constexpr UserHandle kNoUser = -1;
constexpr int64_t kNoSearch = -1;

// The user library's names for two of the mail server's files.
enum ServerFileId : int32_t {
    kAliasFileId = 12,
    kSettingsFileId = 200,
};

constexpr int32_t kWebConfigPermission = 4;
constexpr int kEmailBufferSize = 77;
constexpr int kFullNameBufferSize = 31;

// One slot per entry point, empty until bound.
// NOLINTNEXTLINE(bugprone-macro-parentheses): the arguments are a type, a name and a parameter list
#define VL_SLOT(result, name, parameters) result(*name) parameters;
struct BindingTable {
    VL_ENTRY_POINTS(VL_SLOT)
};
#undef VL_SLOT

extern BindingTable gUserLibrary;

// A server file's path as the user library gives it. The buffer holds one
// byte more than the path may take; it stays zero, so the path ends inside
// the buffer even when the library fills all the rest.
template <size_t Size>
void ReadServerFilePath(char (&path)[Size], ServerFileId file)
{
    memset(path, 0, Size);
    gUserLibrary.VL_GetDBPath(path, file);
}

// True when every given slot of the table holds an entry point.
template <class... Slots>
bool AllBound(Slots... slots)
{
    return ((slots != nullptr) && ...);
}

// Calls visit(slot, name) for every slot of the table, with the name its
// entry point is exported under.
template <class Table, class Visitor>
void ForEachEntryPoint(Table& table, Visitor&& visit)
{
#define VL_VISIT(result, name, parameters) visit(table.name, #name);
    VL_ENTRY_POINTS(VL_VISIT)
#undef VL_VISIT
}

// What each stage needs bound; without it the stage is refused (loading) or
// answers 500 (requests).
inline bool CanReloadUsers(const BindingTable& lib)
{
    return lib.VL_ReloadUsers != nullptr;
}
inline bool PassesLoadTest(const BindingTable& lib)
{
    return lib.VL_GetIsFrozen != nullptr;
}
inline bool CallerCheckBound(const BindingTable& lib)
{
    return AllBound(lib.VL_GetByEmail, lib.VL_GetIsDisabled, lib.VL_GetWebConfigBit, lib.VL_ValidateUser,
                    lib.VL_GetFree);
}
inline bool ListCommandBound(const BindingTable& lib)
{
    return AllBound(lib.VL_GetDBPath, lib.VL_FindFirst, lib.VL_FindNext, lib.VL_FindClose, lib.VL_GetEmail,
                    lib.VL_GetFullName, lib.VL_GroupFindMember);
}
inline bool AuthCommandBound(const BindingTable& lib)
{
    return AllBound(lib.VL_GetByEmail, lib.VL_GetIsDisabled, lib.VL_GetIsFrozen, lib.VL_ValidateUser,
                    lib.VL_GetFree);
}

// Where the user library lies, found step by step from the registry and the
// main settings file into the extension's fixed buffers.
constexpr char kServerKeyPath[] = "Software\\Norvane\\Velmora";
constexpr size_t kRegistryValueLimit = 254;
constexpr size_t kLibraryTypeSize = 16;
constexpr size_t kLibraryPathSize = 256;

struct UserLibraryLocation {
    char applicationDirectory[kRegistryValueLimit] = {};
    char settingsPath[kRegistryValueLimit] = {};
    char libraryType[kLibraryTypeSize] = {};
    char libraryPath[kLibraryPathSize] = {};
};

enum class ServerValue {
    kRead,
    kNoKey,
    kMissing, // or unreadable for another reason
    kTooLong,
    kEmpty,
};

// Reads one value of the mail server's key into a fixed buffer.
ServerValue ReadServerValue(const char* name, char (&value)[kRegistryValueLimit]);
// [Advanced] UserDllType of the main settings file; missing reads as empty.
void ReadLibraryType(UserLibraryLocation& location);
// False when the path does not fit its buffer.
bool ComposeLibraryPath(UserLibraryLocation& location);
bool LoadUserLibrary(const char* libraryPath);
void BindEntryPoints();
// Calls VL_ReloadUsers; without it the library is released and refused.
bool StartUserLibrary();

// Every step above, in order.
bool BindUserLibrary();
void ReleaseUserLibrary();
