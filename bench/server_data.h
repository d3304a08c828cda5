// A mail server of a given size on disk, for the stand-in user library: its
// registry file, main settings file, accounts, aliases and extension settings.
#pragma once

#include <cstddef>
#include <string>

struct ServerData {
    size_t accounts = 0;
    std::string registryFile;
    std::string aliasFile;
};

// The caller that every request authenticates as; its reserved address
// keeps it out of the listing, so a list shows exactly the generated accounts.
inline constexpr char kCallerAddress[] = "Velmora@example.com";
inline constexpr char kCallerPassword[] = "caller-pass";

std::string AccountAddress(size_t index);
std::string AccountPassword(size_t index);

// Writes, into directory, accounts user0..user<n-1>@example.com, even ones in
// group Sales and odd ones in Support, with GroupNames=Sales,Support, so that
// half of the accounts need the second group asked too; and one alias for
// every account, in shuffled order, so that reading the file has to sort.
ServerData WriteServerData(const std::string& directory, size_t accounts, const std::string& libraryDirectory);
