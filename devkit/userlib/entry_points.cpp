// The exported entry points: thin C wrappers over the directory of accounts.
#include "devkit/userlib/entry_points.h"

#include "devkit/userlib/account_file.h"
#include "devkit/userlib/directory.h"
#include "devkit/userlib/server_files.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace {

// The mail server's numbers for the files VL_GetDBPath names.
constexpr int32_t kAliasFileId = 12;
constexpr int32_t kSettingsFileId = 200;
constexpr size_t kEmailBufferSize = 77;
constexpr size_t kFullNameBufferSize = 31;

std::atomic<int32_t> gReloadCount{0};

// Copies the text, cut so that it ends with its zero inside size bytes.
void CopyCut(const std::string& text, char* buffer, size_t size)
{
    size_t count = std::min(text.size(), size - 1);
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
}

} // namespace

VL_EXPORT void VL_ReloadUsers(void)
{
    ++gReloadCount;
    char path[kServerPathSize];
    ReadServerFilePath("Accounts", path);
    TheDirectory().Replace(ReadAccountFile(path));
}

VL_EXPORT void VL_GetDBPath(char* path, int32_t fileId)
{
    if (fileId == kAliasFileId)
        ReadServerFilePath("AliasFile", path);
    else if (fileId == kSettingsFileId)
        ReadServerFilePath("SettingsFile", path);
    else
        path[0] = '\0';
}

VL_EXPORT int64_t VL_GetByEmail(const char* address)
{
    return TheDirectory().Open(address);
}

VL_EXPORT uint8_t VL_GetIsDisabled(int64_t user)
{
    const Account* account = TheDirectory().Resolve(user);
    return account && account->disabled;
}

VL_EXPORT uint8_t VL_GetIsFrozen(int64_t user)
{
    const Account* account = TheDirectory().Resolve(user);
    return account && account->frozen;
}

VL_EXPORT uint8_t VL_GetWebConfigBit(int64_t user, int32_t bit)
{
    const Account* account = TheDirectory().Resolve(user);
    return account && bit >= 0 && bit < 64 && (account->webConfigBits >> bit & 1);
}

VL_EXPORT uint8_t VL_ValidateUser(int64_t user, const char* password)
{
    const Account* account = TheDirectory().Resolve(user);
    return account && account->password == password;
}

VL_EXPORT void VL_GetFree(int64_t user)
{
    TheDirectory().Free(user);
}

VL_EXPORT int64_t VL_FindFirst(int64_t* user)
{
    return TheDirectory().FindFirst(*user);
}

VL_EXPORT uint8_t VL_FindNext(int64_t search, int64_t* user)
{
    return TheDirectory().FindNext(search, *user);
}

VL_EXPORT void VL_FindClose(int64_t search)
{
    TheDirectory().FindClose(search);
}

VL_EXPORT void VL_GetEmail(int64_t user, char* address)
{
    const Account* account = TheDirectory().Resolve(user);
    CopyCut(account ? account->address : std::string(), address, kEmailBufferSize);
}

VL_EXPORT void VL_GetFullName(int64_t user, char* fullName)
{
    const Account* account = TheDirectory().Resolve(user);
    CopyCut(account ? account->fullName : std::string(), fullName, kFullNameBufferSize);
}

VL_EXPORT uint8_t VL_GroupFindMember(const char* address, const char* group)
{
    const Account* account = TheDirectory().Find(address);
    return account && account->InGroup(group);
}

VL_EXPORT int32_t VL_DevOpenHandleCount(void)
{
    return TheDirectory().OpenHandleCount();
}

VL_EXPORT int32_t VL_DevReloadCount(void)
{
    return gReloadCount;
}
