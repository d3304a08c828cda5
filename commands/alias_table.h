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

// What the reader made of the file, counted only when asked for. A line
// longer than the limit is cut off and its first 511 bytes are taken as the
// line; the other kinds are lines that yield no entry.
struct AliasFileReport {
    bool readable = false;
    size_t comments = 0;
    size_t withoutEquals = 0;
    size_t wildcardOrMacro = 0;
    size_t cutOff = 0;
};

// The alias file's path as the user library gives it; one byte more than the
// library is told of, always zero, ends the path.
constexpr size_t kAliasPathSize = 512;
using AliasFilePath = char[kAliasPathSize + 1];
void ReadAliasFilePath(AliasFilePath& path);

// Reads the alias file that the user library names. A missing or unreadable
// file gives an empty table; no line is ever an error.
AliasTable ReadAliasTable(AliasFileReport* report = nullptr);

// Reads the alias file at the given path.
AliasTable ReadAliasTableFrom(const char* path, AliasFileReport* report = nullptr);

// The run of entries whose target is exactly the address, in file order.
std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address);

// Removes spaces, tabs, CRs and LFs from both ends of a zero-terminated text.
void TrimInPlace(char* text);

// Lower-cases A-Z of a zero-terminated text; no other byte changes.
void LowerCaseInPlace(char* text);
