// One immutable generation of accounts: in file order, with a hash index on
// the address that ignores ASCII letter case, as mail addresses do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct Account {
    std::string address;
    std::string fullName; // Windows-1252 bytes
    std::string password;
    bool disabled = false;
    bool frozen = false;
    uint64_t webConfigBits = 0;
    std::vector<std::string> groups;

    bool InGroup(std::string_view group) const;
};

class AccountSet {
public:
    // False, and nothing added, when the address is already taken.
    bool Add(Account account);
    void Reserve(size_t count);

    std::optional<uint32_t> IndexOf(std::string_view address) const;
    const Account* At(uint64_t index) const { return index < accounts_.size() ? &accounts_[index] : nullptr; }
    size_t Size() const { return accounts_.size(); }

private:
    std::vector<Account> accounts_;
    std::unordered_map<std::string, uint32_t> index_; // keyed by the lower-cased address
};
