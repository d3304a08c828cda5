// A mail server made up from its size alone, for the list benchmarks. The
// stand-in library of flat_userlib/ makes its accounts from the same
// functions that write the alias file here, so both agree on every address.
//
// Account 0 is the caller (its reserved address keeps it out of the
// listing); accounts 1..n are user<i>@example.com. One in three is in no
// group, the others in Sales or Support, with GroupNames=Sales,Support; every
// fifth full name holds bytes above 0x7F. The alias file holds n aliases,
// each pointing at an account picked by a hash of the alias's number, so
// that some accounts have several aliases and some none.
#pragma once

#include "bench/server_data.h"

#include <cstdint>
#include <optional>
#include <string>

struct GeneratedAccount {
    std::string address;
    std::string fullName; // Windows-1252 bytes, at most 30
    std::string password;
    bool sales = false;
    bool support = false;
    bool mayConfigure = false; // web-configuration permission 4
};

// The account at index 0..accounts (both included).
GeneratedAccount MakeGeneratedAccount(size_t index);

// The alias file's bytes, CR LF lines.
std::string GeneratedAliasFile(size_t accounts);

// The [Directories] key of the main settings file that tells the library
// how many accounts to make.
inline constexpr char kGeneratedAccountsKey[] = "GeneratedAccounts";

// Writes the registry, main settings, alias and extension settings files for
// the library in libraryDirectory into directory.
ServerData WriteGeneratedServer(const std::string& directory, size_t accounts, const std::string& libraryDirectory);

// Writes a server of this many accounts into folder, for the lock-free
// stand-in of flat_userlib/, and loads the extension against it; none, said
// on stderr, when GetExtensionVersion refuses it.
std::optional<ServerData> LoadGeneratedServer(const std::string& folder, size_t accounts);
