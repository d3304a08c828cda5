// The mail server's alias file, one "alias = target" a line, read whole into
// one buffer whose entries are views into it. Reading the file, surveying its
// lines and telling what each line holds live here; the index that list finds
// an account's aliases with is built from them (commands/alias_index.h).
#pragma once

#include "commands/byte_blocks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

struct AliasEntry {
    std::string_view target;
    std::string_view alias;
};

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

// Positions in the text are 32-bit, and UINT32_MAX marks a free slot of the
// index. Each entry takes two bytes at least, an "=" and a line end, so a
// text this long holds at most 2^31 entries, and the index's slots, twice as
// many, stay countable in 32 bits.
constexpr size_t kLongestAliasText = UINT32_MAX;

// The file's bytes as text mode delivers them: up to the first 0x1A, and no
// more than kLongestAliasText (a file larger than that when it is opened is
// not read at all). Padded: kPadding spare bytes follow them, so
// that any text in them can be read a block at a time.
struct AliasText {
    std::unique_ptr<char[]> bytes;
    size_t length = 0;
};

// The alias file's path as the user library gives it.
constexpr size_t kAliasPathSize = 512;

// The file's bytes; none when it cannot be opened, and those before the
// failure when a read fails part-way.
AliasText ReadAliasText(const char* path, AliasFileReport* report = nullptr);

// The same rules over bytes handed over in memory.
AliasText CopyAliasText(std::string_view bytes);

// What one pass over the whole text finds before its lines are parsed.
struct TextSurvey {
    size_t lineFeeds = 0;
    size_t equalsSigns = 0;
    // Lines need looking for these only when the file holds any.
    bool holdsZero = false;
    bool holdsStarOrDollar = false;
};

// Lower-cases the whole text where it lies, and counts on the way. Every
// alias and target is lower-cased anyway, no other byte of the file reaches
// an answer, and none of the bytes that tell the kinds of line apart is a
// capital or becomes one.
TextSurvey LowerCaseAndSurvey(AliasText& text);

// An entry takes a line of its own and an "=" in it: a bound on the entries
// that neither blank lines nor a line of many "=" inflate.
inline size_t MostEntries(const TextSurvey& survey)
{
    return std::min(survey.lineFeeds + 1, survey.equalsSigns);
}

enum class AliasLineKind { kEntry, kComment, kWithoutEquals, kWildcardOrMacro };

// The longest line taken whole; a longer one is cut to this.
constexpr size_t kAliasLineLimit = 511;

// The entry of one line, unless it is a comment, holds no "=", or names a
// wildcard or macro alias. The line is what text mode reads into a 512-byte
// buffer: its first 511 bytes, and of those only the bytes before a zero,
// where the stored text ends.
AliasLineKind ParseAliasLine(const char* line, size_t length, const TextSurvey& survey, AliasEntry& entry);

void CountAliasLine(AliasFileReport& report, AliasLineKind kind, bool cutOff);

// Calls add(entry) for each alias line of a surveyed text, in file order,
// and counts every line in the report when there is one. A CR directly
// before an LF belongs to the line end; a lone CR stays.
template <class Add>
void ParseAliasLines(const AliasText& text, const TextSurvey& survey, AliasFileReport* report, Add&& add)
{
    const char* at = text.bytes.get();
    const char* end = at + text.length;
    while (at < end) {
        const char* lineFeed = static_cast<const char*>(memchr(at, '\n', static_cast<size_t>(end - at)));
        const char* lineEnd = lineFeed ? lineFeed : end;
        size_t length = static_cast<size_t>(lineEnd - at);
        if (lineFeed && length > 0 && at[length - 1] == '\r')
            --length;
        bool cutOff = length > kAliasLineLimit;
        AliasEntry entry;
        AliasLineKind kind = ParseAliasLine(at, std::min(length, kAliasLineLimit), survey, entry);
        if (kind == AliasLineKind::kEntry)
            add(entry);
        if (report)
            CountAliasLine(*report, kind, cutOff);
        at = lineEnd + 1;
    }
}
