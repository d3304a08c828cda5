#include "tests/commands/alias_table.h"

#include <algorithm>

namespace {

AliasTable SortedTable(AliasText text, AliasFileReport* report)
{
    TextSurvey survey = LowerCaseAndSurvey(text);
    std::vector<AliasEntry> entries;
    entries.reserve(MostEntries(survey));
    ParseAliasLines(text, survey, report, [&](const AliasEntry& entry) { entries.push_back(entry); });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const AliasEntry& a, const AliasEntry& b) { return a.target < b.target; });
    return AliasTable(std::move(text), std::move(entries));
}

} // namespace

AliasTable::AliasTable(AliasText text, std::vector<AliasEntry> entries)
    : text_(std::move(text)), entries_(std::move(entries))
{
}

bool operator==(const AliasTable& a, const AliasTable& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const AliasEntry& x, const AliasEntry& y) {
        return x.target == y.target && x.alias == y.alias;
    });
}

AliasTable ReadAliasTableFrom(const char* path, AliasFileReport* report)
{
    AliasText text = ReadAliasText(path, report);
    return SortedTable(std::move(text), report);
}

AliasTable ParseAliasTable(std::string_view bytes, AliasFileReport* report)
{
    if (report)
        report->readable = true;
    return SortedTable(CopyAliasText(bytes), report);
}

std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address)
{
    auto [first, last] = std::equal_range(table.begin(), table.end(), AliasEntry{address, {}},
                                          [](const AliasEntry& a, const AliasEntry& b) { return a.target < b.target; });
    return {first, last};
}
