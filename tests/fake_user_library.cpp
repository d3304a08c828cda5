#include "tests/fake_user_library.h"

#include <cstring>

// The entry points carry the names they are exported under, so that the
// one list of entry points installs each in its own slot.
namespace {

FakeUserLibrary* gFake = nullptr;

// Account handles are index + 1000; search handles count from 7.
constexpr UserHandle kHandleBase = 1000;

FakeAccount* Account(UserHandle user)
{
    size_t index = static_cast<size_t>(user - kHandleBase);
    return index < gFake->accounts.size() ? &gFake->accounts[index] : nullptr;
}

void Record(const std::string& call)
{
    gFake->calls.push_back(call);
}

void VL_ReloadUsers() { Record("VL_ReloadUsers()"); }

void VL_GetDBPath(char* path, int32_t fileId)
{
    Record("VL_GetDBPath(" + std::to_string(fileId) + ")");
    const std::string& source = fileId == kAliasFileId ? gFake->aliasPath : gFake->settingsPath;
    memcpy(path, source.c_str(), source.size() + 1);
}

UserHandle VL_GetByEmail(const char* address)
{
    Record(std::string("VL_GetByEmail(") + address + ")");
    for (size_t i = 0; i < gFake->accounts.size(); ++i) {
        if (gFake->accounts[i].address == address) {
            ++gFake->openHandles;
            return kHandleBase + static_cast<UserHandle>(i);
        }
    }
    return kNoUser;
}

uint8_t VL_GetIsDisabled(UserHandle user)
{
    Record("VL_GetIsDisabled");
    return Account(user)->disabled;
}

uint8_t VL_GetIsFrozen(UserHandle user)
{
    Record("VL_GetIsFrozen");
    return Account(user)->frozen;
}

uint8_t VL_GetWebConfigBit(UserHandle user, int32_t bit)
{
    Record("VL_GetWebConfigBit(" + std::to_string(bit) + ")");
    return bit == 4 && Account(user)->webConfig4;
}

uint8_t VL_ValidateUser(UserHandle user, const char* password)
{
    Record("VL_ValidateUser");
    gFake->validatedPasswords.emplace_back(password);
    return Account(user)->password == password ? 0x80 : 0;
}

void VL_GetFree(UserHandle)
{
    Record("VL_GetFree");
    --gFake->openHandles;
}

int64_t VL_FindFirst(UserHandle* user)
{
    Record("VL_FindFirst");
    if (gFake->findFirstFails || gFake->accounts.empty())
        return kNoSearch;
    ++gFake->openSearches;
    *user = kHandleBase;
    return 7;
}

uint8_t VL_FindNext(int64_t, UserHandle* user)
{
    Record("VL_FindNext");
    if (!Account(*user + 1))
        return 0;
    ++*user;
    return 1;
}

void VL_FindClose(int64_t)
{
    Record("VL_FindClose");
    --gFake->openSearches;
    ++gFake->findCloseCalls;
}

void VL_GetEmail(UserHandle user, char* address)
{
    Record("VL_GetEmail");
    const std::string& source = Account(user)->address;
    memcpy(address, source.data(), std::min<size_t>(source.size(), kEmailBufferSize));
}

void VL_GetFullName(UserHandle user, char* fullName)
{
    Record("VL_GetFullName");
    const std::string& source = Account(user)->fullName;
    memcpy(fullName, source.data(), std::min<size_t>(source.size(), kFullNameBufferSize));
}

uint8_t VL_GroupFindMember(const char* address, const char* group)
{
    Record(std::string("VL_GroupFindMember(") + address + "," + group + ")");
    for (const FakeAccount& account : gFake->accounts)
        if (account.address == address)
            for (const std::string& name : account.groups)
                if (name == group)
                    return 1;
    return 0;
}

} // namespace

FakeUserLibrary::FakeUserLibrary()
{
    gFake = this;
#define VL_INSTALL(result, name, parameters, neededFor) gUserLibrary.name = name;
    VL_ENTRY_POINTS(VL_INSTALL)
#undef VL_INSTALL
}

FakeUserLibrary::~FakeUserLibrary()
{
    gUserLibrary = BindingTable{};
    gFake = nullptr;
}

std::vector<std::string> FakeUserLibrary::CallNames() const
{
    std::vector<std::string> names;
    for (const std::string& call : calls)
        names.push_back(call.substr(0, call.find('(')));
    return names;
}
