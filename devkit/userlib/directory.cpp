#include "devkit/userlib/directory.h"

namespace {

constexpr int kIndexBits = 32;

UserHandle HandleOf(size_t generation, uint32_t index)
{
    return static_cast<UserHandle>((uint64_t{generation} << kIndexBits) | index);
}

} // namespace

void Directory::Replace(AccountSet accounts)
{
    auto generation = std::make_unique<const AccountSet>(std::move(accounts));
    std::unique_lock lock(generationsLock_);
    generations_.push_back(std::move(generation));
}

const AccountSet* Directory::Newest() const
{
    return generations_.empty() ? nullptr : generations_.back().get();
}

UserHandle Directory::Open(std::string_view address)
{
    std::shared_lock lock(generationsLock_);
    const AccountSet* accounts = Newest();
    std::optional<uint32_t> index = accounts ? accounts->IndexOf(address) : std::nullopt;
    if (!index)
        return kNoUser;
    ++openUsers_;
    return HandleOf(generations_.size() - 1, *index);
}

void Directory::Free(UserHandle user)
{
    if (Resolve(user))
        --openUsers_;
}

const Account* Directory::Resolve(UserHandle user) const
{
    if (user < 0)
        return nullptr;
    uint64_t generation = static_cast<uint64_t>(user) >> kIndexBits;
    uint32_t index = static_cast<uint32_t>(user);
    std::shared_lock lock(generationsLock_);
    return generation < generations_.size() ? generations_[generation]->At(index) : nullptr;
}

const Account* Directory::Find(std::string_view address) const
{
    std::shared_lock lock(generationsLock_);
    const AccountSet* accounts = Newest();
    std::optional<uint32_t> index = accounts ? accounts->IndexOf(address) : std::nullopt;
    return index ? accounts->At(*index) : nullptr;
}

int64_t Directory::FindFirst(UserHandle& user)
{
    uint32_t generation = 0;
    {
        std::shared_lock lock(generationsLock_);
        const AccountSet* accounts = Newest();
        if (!accounts || accounts->Size() == 0)
            return kNoSearch;
        generation = static_cast<uint32_t>(generations_.size() - 1);
    }
    user = HandleOf(generation, 0);
    std::lock_guard lock(searchesLock_);
    searches_.emplace(nextSearch_, Search{generation, 1});
    return nextSearch_++;
}

bool Directory::FindNext(int64_t search, UserHandle& user)
{
    std::lock_guard lock(searchesLock_);
    auto entry = searches_.find(search);
    if (entry == searches_.end())
        return false;
    Search& state = entry->second;
    UserHandle next = HandleOf(state.generation, state.next);
    if (!Resolve(next))
        return false;
    user = next;
    ++state.next;
    return true;
}

void Directory::FindClose(int64_t search)
{
    std::lock_guard lock(searchesLock_);
    searches_.erase(search);
}

int32_t Directory::OpenHandleCount() const
{
    std::lock_guard lock(searchesLock_);
    return openUsers_ + static_cast<int32_t>(searches_.size());
}

Directory& TheDirectory()
{
    static Directory directory;
    return directory;
}
