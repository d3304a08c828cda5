// The mail server's alias file, read into a table sorted by target address.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct AliasEntry {
    std::string target;
    std::string alias;
};

// Sorted stably by target, in unsigned byte order: the aliases of one target
// stand in the order of their lines in the file.
using AliasTable = std::vector<AliasEntry>;

// Reads the alias file that the user library names. A missing or unreadable
// file gives an empty table; no line is ever an error.
AliasTable ReadAliasTable();

// Reads the alias file at the given path.
AliasTable ReadAliasTableFrom(const char* path);

// The run of entries whose target is exactly the address, in file order.
std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address);

// Removes spaces, tabs, CRs and LFs from both ends of a zero-terminated text.
void TrimInPlace(char* text);

// Lower-cases A-Z of a zero-terminated text; no other byte changes.
void LowerCaseInPlace(char* text);
