// The alias file reader on arbitrary bytes, in memory: whatever the file
// holds, every entry is trimmed and lower-cased, no alias is a wildcard or
// macro, no entry holds a zero byte, the table is sorted by target, and the
// index that the list command uses finds for each target exactly the table's
// run, in the same order.
#include "commands/alias_index.h"
#include "tests/commands/alias_table.h"
#include "fuzz/fuzz_target.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNormalised(std::string_view text)
{
    if (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back())))
        return false;
    return std::none_of(text.begin(), text.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '\n'; });
}

void CheckEntry(const AliasEntry& entry)
{
    if (!IsNormalised(entry.alias) || !IsNormalised(entry.target))
        FuzzFailure("an entry is not trimmed and lower-cased");
    if (entry.alias.find_first_of("*=") != std::string_view::npos ||
        entry.alias.find("$localdomain$") != std::string_view::npos)
        FuzzFailure("a wildcard, macro or '=' in an alias");
    if (entry.alias.find('\0') != std::string_view::npos || entry.target.find('\0') != std::string_view::npos)
        FuzzFailure("a zero byte in an entry, where the line's text has ended");
    if (entry.alias.size() + entry.target.size() > 510)
        FuzzFailure("an entry longer than a line");
}

// Each target once: the table holds a target's entries side by side.
void CheckIndex(const AliasTable& table, const AliasIndex& index)
{
    for (size_t at = 0; at < table.size(); at += FindAliases(table, table[at].target).size()) {
        std::vector<std::string_view> found;
        index.ForEachAlias(table[at].target, [&](std::string_view alias) { found.push_back(alias); });
        std::span<const AliasEntry> run = FindAliases(table, table[at].target);
        if (!std::equal(found.begin(), found.end(), run.begin(), run.end(),
                        [](std::string_view alias, const AliasEntry& e) { return alias == e.alias; }))
            FuzzFailure("the index and the table disagree on a target's aliases");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    AliasTable table = ParseAliasTable(bytes);
    for (const AliasEntry& entry : table)
        CheckEntry(entry);
    auto byTarget = [](const AliasEntry& a, const AliasEntry& b) { return a.target < b.target; };
    if (!std::is_sorted(table.begin(), table.end(), byTarget))
        FuzzFailure("the table is not sorted by target");
    CheckIndex(table, ParseAliasIndex(bytes));
    return 0;
}
