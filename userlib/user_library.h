// What the extension calls in the mail server's user library, and the
// process-wide table of bound entry points. The table is written only while
// the host loads and unloads the extension, and only read in between.
#pragma once

#include <cstdint>

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

struct BindingTable {
    void (*VL_ReloadUsers)();
    void (*VL_GetDBPath)(char* path, int32_t fileId);
    UserHandle (*VL_GetByEmail)(const char* address);
    uint8_t (*VL_GetIsDisabled)(UserHandle user);
    uint8_t (*VL_GetIsFrozen)(UserHandle user);
    uint8_t (*VL_GetWebConfigBit)(UserHandle user, int32_t bit);
    uint8_t (*VL_ValidateUser)(UserHandle user, const char* password);
    void (*VL_GetFree)(UserHandle user);
    int64_t (*VL_FindFirst)(UserHandle* user);
    uint8_t (*VL_FindNext)(int64_t search, UserHandle* user);
    void (*VL_FindClose)(int64_t search);
    void (*VL_GetEmail)(UserHandle user, char* address);
    void (*VL_GetFullName)(UserHandle user, char* fullName);
    uint8_t (*VL_GroupFindMember)(const char* address, const char* group);
};

extern BindingTable gUserLibrary;

// True when every given slot of the table holds an entry point.
template <class... Slots>
bool AllBound(Slots... slots)
{
    return ((slots != nullptr) && ...);
}

bool BindUserLibrary();
void ReleaseUserLibrary();
