// Account handles and searches of the user library, each given back however
// the scope that holds it ends: by a return, or by an exception from the
// library or from an allocation that failed.
#pragma once

#include "userlib/user_library.h"

// The handle of the account with this address, from VL_GetByEmail; it goes
// back with VL_GetFree.
class HeldAccount {
public:
    explicit HeldAccount(const char* address) : user_(gUserLibrary.VL_GetByEmail(address)) {}
    ~HeldAccount()
    {
        if (user_ != kNoUser)
            gUserLibrary.VL_GetFree(user_);
    }
    HeldAccount(const HeldAccount&) = delete;
    HeldAccount& operator=(const HeldAccount&) = delete;

    bool Exists() const { return user_ != kNoUser; }
    UserHandle Handle() const { return user_; }

private:
    UserHandle user_;
};

// A walk over every account, from VL_FindFirst; VL_FindClose ends it. Its
// handles are the library's and are never given back one by one.
class AccountSearch {
public:
    AccountSearch() : search_(gUserLibrary.VL_FindFirst(&user_)) {}
    ~AccountSearch()
    {
        if (search_ != kNoSearch)
            gUserLibrary.VL_FindClose(search_);
    }
    AccountSearch(const AccountSearch&) = delete;
    AccountSearch& operator=(const AccountSearch&) = delete;

    bool Started() const { return search_ != kNoSearch; }
    UserHandle Current() const { return user_; }
    bool Next() { return gUserLibrary.VL_FindNext(search_, &user_) != 0; }

private:
    UserHandle user_ = kNoUser;
    int64_t search_;
};
