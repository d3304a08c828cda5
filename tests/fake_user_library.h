// An in-process user library for tests: a few accounts in memory, a record
// of every call, and a count of handles not yet given back. Install() fills
// the extension's binding table with it.
#pragma once

#include "userlib/user_library.h"

#include <map>
#include <string>
#include <vector>

struct FakeAccount {
    std::string address;
    std::string password;
    std::string fullName;
    bool disabled = false;
    bool frozen = false;
    bool webConfig4 = true;
    std::vector<std::string> groups;
};

class FakeUserLibrary {
public:
    FakeUserLibrary();
    ~FakeUserLibrary();

    void Add(FakeAccount account) { accounts.push_back(std::move(account)); }

    std::vector<FakeAccount> accounts;
    std::string aliasPath;
    std::string settingsPath;
    bool findFirstFails = false;

    // Every call, as "VL_GetByEmail(ann@example.com)" and the like.
    std::vector<std::string> calls;
    std::vector<std::string> validatedPasswords;
    int openHandles = 0;
    int openSearches = 0;
    int findCloseCalls = 0;

    // Names of calls only, in order.
    std::vector<std::string> CallNames() const;
};
