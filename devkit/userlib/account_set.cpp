#include "devkit/userlib/account_set.h"

#include "platform/ascii.h"

namespace {

std::string LowerCased(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = AsciiLower(c);
    return lower;
}

} // namespace

bool Account::InGroup(std::string_view group) const
{
    for (const std::string& name : groups)
        if (EqualsIgnoringAsciiCase(name, group))
            return true;
    return false;
}

bool AccountSet::Add(Account account)
{
    auto [entry, added] = index_.try_emplace(LowerCased(account.address), static_cast<uint32_t>(accounts_.size()));
    if (added)
        accounts_.push_back(std::move(account));
    return added;
}

void AccountSet::Reserve(size_t count)
{
    accounts_.reserve(count);
    index_.reserve(count);
}

std::optional<uint32_t> AccountSet::IndexOf(std::string_view address) const
{
    auto entry = index_.find(LowerCased(address));
    if (entry == index_.end())
        return std::nullopt;
    return entry->second;
}
