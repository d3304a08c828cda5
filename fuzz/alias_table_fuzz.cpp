// The alias file reader on arbitrary bytes: whatever the file holds, every
// entry is trimmed and lower-cased, no alias is a wildcard or macro, and the
// table is sorted by target.
#include "commands/alias_table.h"
#include "fuzz/fuzz_target.h"
#include "tests/temp_directory.h"

#include <algorithm>
#include <string>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNormalised(const std::string& text)
{
    if (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back())))
        return false;
    return std::none_of(text.begin(), text.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '\n'; });
}

void CheckEntry(const AliasEntry& entry)
{
    if (!IsNormalised(entry.alias) || !IsNormalised(entry.target))
        FuzzFailure("an entry is not trimmed and lower-cased");
    if (entry.alias.find_first_of("*=") != std::string::npos ||
        entry.alias.find("$localdomain$") != std::string::npos)
        FuzzFailure("a wildcard, macro or '=' in an alias");
    if (entry.alias.size() + entry.target.size() > 510)
        FuzzFailure("an entry longer than a line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TempDirectory directory;
    std::string path = directory.Write("alias.txt", std::string(reinterpret_cast<const char*>(data), size));

    AliasTable table = ReadAliasTableFrom(path.c_str());
    for (const AliasEntry& entry : table)
        CheckEntry(entry);
    auto byTarget = [](const AliasEntry& a, const AliasEntry& b) { return a.target < b.target; };
    if (!std::is_sorted(table.begin(), table.end(), byTarget))
        FuzzFailure("the table is not sorted by target");
    return 0;
}
