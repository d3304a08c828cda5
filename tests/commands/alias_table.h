// The alias file as a table sorted by target, with a binary search for one
// target's run: the shape the alias file's rules are easiest to check in,
// and what the list command's index must agree with. Built only into tests.
#pragma once

#include "commands/alias_file.h"

#include <span>
#include <string_view>
#include <vector>

// Sorted stably by target, in unsigned byte order: the aliases of one target
// stand in the order of their lines in the file.
class AliasTable {
public:
    AliasTable() = default;
    AliasTable(AliasText text, std::vector<AliasEntry> entries);

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const AliasEntry& operator[](size_t index) const { return entries_[index]; }
    std::vector<AliasEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<AliasEntry>::const_iterator end() const { return entries_.end(); }

private:
    AliasText text_;
    std::vector<AliasEntry> entries_;
};

bool operator==(const AliasTable& a, const AliasTable& b);

// Reads the alias file at the given path, or bytes handed over in memory.
AliasTable ReadAliasTableFrom(const char* path, AliasFileReport* report = nullptr);
AliasTable ParseAliasTable(std::string_view bytes, AliasFileReport* report = nullptr);

// The run of entries whose target is exactly the address, in file order.
std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address);
