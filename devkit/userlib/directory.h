// The accounts the library serves, safe to use from many threads at once.
//
// Every reload adds a generation and keeps the older ones until the library
// is unloaded: a handle names a generation and an account in it, so no
// reload can invalidate a handle or a search that is still in use.
#pragma once

#include "devkit/userlib/account_set.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <vector>

using UserHandle = int64_t;
constexpr UserHandle kNoUser = -1;
constexpr int64_t kNoSearch = -1;

class Directory {
public:
    void Replace(AccountSet accounts);

    // A handle that the caller gives back with Free; kNoUser when unknown.
    UserHandle Open(std::string_view address);
    void Free(UserHandle user);
    // The account of any handle this library gave out, or nullptr.
    const Account* Resolve(UserHandle user) const;
    // The account of an address in the newest generation, or nullptr.
    const Account* Find(std::string_view address) const;

    // Walks the newest generation in file order.
    int64_t FindFirst(UserHandle& user);
    bool FindNext(int64_t search, UserHandle& user);
    void FindClose(int64_t search);

    int32_t OpenHandleCount() const;

private:
    struct Search {
        uint32_t generation;
        uint32_t next;
    };

    // Only while the caller holds generationsLock_.
    const AccountSet* Newest() const;

    mutable std::shared_mutex generationsLock_;
    std::vector<std::unique_ptr<const AccountSet>> generations_;

    mutable std::mutex searchesLock_;
    std::map<int64_t, Search> searches_;
    int64_t nextSearch_ = 1;

    std::atomic<int32_t> openUsers_{0};
};

Directory& TheDirectory();
