// A stand-in user library for the list benchmarks that takes no lock and
// allocates nothing once loaded: VL_ReloadUsers makes every account of the
// generated server (bench/generated_server.h) into flat arrays with a hash
// index on the lower-cased address, and nothing replaces them while requests
// run. So a list request measured against it pays only for the library's
// unavoidable work, and the benchmark sees the extension's own costs.
#include "bench/generated_server.h"
#include "devkit/userlib/entry_points.h"
#include "devkit/userlib/server_files.h"
#include "platform/ascii.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kAliasFileId = 12;
constexpr int32_t kSettingsFileId = 200;
constexpr size_t kEmailBufferSize = 77;
constexpr size_t kFullNameBufferSize = 31;
constexpr uint32_t kNoIndex = UINT32_MAX;
constexpr size_t kSearchSlots = 64;

struct FlatAccount {
    char address[kEmailBufferSize];
    char fullName[kFullNameBufferSize];
    char password[32];
    bool sales;
    bool support;
    bool mayConfigure;
};

std::vector<FlatAccount> gAccounts;
std::vector<uint32_t> gIndex; // open addressing, a power of two in size
char gAliasPath[kServerPathSize];
char gSettingsPath[kServerPathSize];

// A search is a slot holding the next account's index; a slot is taken and
// given back with one atomic exchange each, and walking takes no lock.
std::atomic<bool> gSearchTaken[kSearchSlots];
std::atomic<uint32_t> gSearchNext[kSearchSlots];

uint64_t HashLowerCased(const char* address)
{
    uint64_t hash = 0xCBF29CE484222325u;
    for (; *address; ++address)
        hash = (hash ^ static_cast<unsigned char>(AsciiLower(*address))) * 0x100000001B3u;
    return hash;
}

void CopyCut(const std::string& text, char* buffer, size_t size)
{
    size_t count = std::min(text.size(), size - 1);
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
}

void Build(size_t count)
{
    gAccounts.assign(count + 1, FlatAccount{});
    size_t slots = 1;
    while (slots < 2 * gAccounts.size())
        slots *= 2;
    gIndex.assign(slots, kNoIndex);
    for (size_t i = 0; i < gAccounts.size(); ++i) {
        GeneratedAccount made = MakeGeneratedAccount(i);
        FlatAccount& account = gAccounts[i];
        CopyCut(made.address, account.address, sizeof account.address);
        CopyCut(made.fullName, account.fullName, sizeof account.fullName);
        CopyCut(made.password, account.password, sizeof account.password);
        account.sales = made.sales;
        account.support = made.support;
        account.mayConfigure = made.mayConfigure;
        size_t slot = HashLowerCased(account.address) & (slots - 1);
        while (gIndex[slot] != kNoIndex)
            slot = (slot + 1) & (slots - 1);
        gIndex[slot] = static_cast<uint32_t>(i);
    }
}

int64_t Find(const char* address)
{
    if (gIndex.empty())
        return -1;
    size_t mask = gIndex.size() - 1;
    for (size_t slot = HashLowerCased(address) & mask; gIndex[slot] != kNoIndex; slot = (slot + 1) & mask)
        if (EqualsIgnoringAsciiCase(gAccounts[gIndex[slot]].address, address))
            return gIndex[slot];
    return -1;
}

const FlatAccount* Resolve(int64_t user)
{
    return user >= 0 && static_cast<uint64_t>(user) < gAccounts.size() ? &gAccounts[static_cast<size_t>(user)] : nullptr;
}

} // namespace

VL_EXPORT void VL_ReloadUsers(void)
{
    char count[32];
    ReadServerFilePath(kGeneratedAccountsKey, count);
    ReadServerFilePath("AliasFile", gAliasPath);
    ReadServerFilePath("SettingsFile", gSettingsPath);
    Build(strtoul(count, nullptr, 10));
}

VL_EXPORT void VL_GetDBPath(char* path, int32_t fileId)
{
    const char* known = fileId == kAliasFileId ? gAliasPath : fileId == kSettingsFileId ? gSettingsPath : "";
    strcpy(path, known);
}

VL_EXPORT int64_t VL_GetByEmail(const char* address)
{
    return Find(address);
}

VL_EXPORT uint8_t VL_GetIsDisabled(int64_t)
{
    return 0;
}

VL_EXPORT uint8_t VL_GetIsFrozen(int64_t)
{
    return 0;
}

VL_EXPORT uint8_t VL_GetWebConfigBit(int64_t user, int32_t bit)
{
    const FlatAccount* account = Resolve(user);
    return account && account->mayConfigure && bit == 4;
}

VL_EXPORT uint8_t VL_ValidateUser(int64_t user, const char* password)
{
    const FlatAccount* account = Resolve(user);
    return account && strcmp(account->password, password) == 0;
}

VL_EXPORT void VL_GetFree(int64_t) {}

VL_EXPORT int64_t VL_FindFirst(int64_t* user)
{
    if (gAccounts.empty())
        return -1;
    for (size_t slot = 0; slot < kSearchSlots; ++slot) {
        if (!gSearchTaken[slot].exchange(true)) {
            gSearchNext[slot] = 1;
            *user = 0;
            return static_cast<int64_t>(slot);
        }
    }
    return -1;
}

VL_EXPORT uint8_t VL_FindNext(int64_t search, int64_t* user)
{
    uint32_t next = gSearchNext[search]++;
    if (next >= gAccounts.size())
        return 0;
    *user = next;
    return 1;
}

VL_EXPORT void VL_FindClose(int64_t search)
{
    gSearchTaken[search] = false;
}

VL_EXPORT void VL_GetEmail(int64_t user, char* address)
{
    const FlatAccount* account = Resolve(user);
    strcpy(address, account ? account->address : "");
}

VL_EXPORT void VL_GetFullName(int64_t user, char* fullName)
{
    const FlatAccount* account = Resolve(user);
    strcpy(fullName, account ? account->fullName : "");
}

VL_EXPORT uint8_t VL_GroupFindMember(const char* address, const char* group)
{
    const FlatAccount* account = Resolve(Find(address));
    if (!account)
        return 0;
    return (account->sales && EqualsIgnoringAsciiCase(group, "Sales")) ||
           (account->support && EqualsIgnoringAsciiCase(group, "Support"));
}

VL_EXPORT int32_t VL_DevOpenHandleCount(void)
{
    return 0;
}

VL_EXPORT int32_t VL_DevReloadCount(void)
{
    return 0;
}
