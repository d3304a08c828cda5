#include "commands/alias_table.h"

#include "commands/byte_blocks.h"
#include "platform/ascii.h"
#include "platform/os_calls.h"
#include "userlib/user_library.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kLineLimit = 511;
constexpr size_t kFirstRead = 64 * 1024;
// Positions in the text are 32-bit, and UINT32_MAX marks a free slot. Each
// entry takes two bytes at least, an "=" and a line end, so a text this long
// holds at most 2^31 entries, and the index's slots, twice as many, stay
// countable in 32 bits.
constexpr size_t kLongestText = UINT32_MAX;
constexpr std::string_view kLocalDomainMacro = "$LOCALDOMAIN$";
constexpr char kEndOfFile = 0x1A;

uint64_t LoadWord(const char* bytes, size_t count)
{
    uint64_t word = 0;
    memcpy(&word, bytes, count);
    return word;
}

// The file's length when it can be told, so that one buffer holds it whole;
// zero when not. Only a hint: the file may grow or shrink while it is read.
size_t SizeHint(FILE* file)
{
    long at = ftell(file);
    if (at < 0 || fseek(file, 0, SEEK_END) != 0)
        return 0;
    long end = ftell(file);
    if (fseek(file, at, SEEK_SET) != 0)
        return 0;
    return end > at ? static_cast<size_t>(end) : 0;
}

std::unique_ptr<char[]> TextBuffer(size_t capacity)
{
    return std::make_unique_for_overwrite<char[]>(capacity + kBlockSize);
}

void Grow(AliasText& text, size_t& capacity, size_t wanted)
{
    auto bytes = TextBuffer(wanted);
    memcpy(bytes.get(), text.bytes.get(), text.length);
    text.bytes = std::move(bytes);
    capacity = wanted;
}

// Reads until a short read, which is the end of the file or a failure, or
// until a read brings 0x1A, after which text mode delivers nothing, or
// until the text is as long as the index can address.
void ReadUntilEnd(FILE* file, AliasText& text)
{
    size_t capacity = kFirstRead;
    text.bytes = TextBuffer(capacity);
    for (;;) {
        if (text.length == capacity)
            Grow(text, capacity, std::min(std::max(capacity * 2, text.length + SizeHint(file) + 1), kLongestText));
        size_t wanted = capacity - text.length;
        size_t got = gOs.fread(text.bytes.get() + text.length, 1, wanted, file);
        bool ended = memchr(text.bytes.get() + text.length, kEndOfFile, got) != nullptr;
        text.length += got;
        if (got < wanted || ended || text.length == kLongestText)
            return;
    }
}

void CutAtEndOfFile(AliasText& text)
{
    if (const void* end = memchr(text.bytes.get(), kEndOfFile, text.length))
        text.length = static_cast<size_t>(static_cast<const char*>(end) - text.bytes.get());
}

AliasText CopiedText(std::string_view bytes)
{
    AliasText text;
    bytes = bytes.substr(0, kLongestText);
    text.bytes = TextBuffer(bytes.size());
    memcpy(text.bytes.get(), bytes.data(), bytes.size());
    text.length = bytes.size();
    CutAtEndOfFile(text);
    return text;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// The macro can only start at a "$".
bool HoldsLocalDomainMacro(std::string_view alias)
{
    for (size_t at = alias.find('$'); at != std::string_view::npos; at = alias.find('$', at + 1))
        if (EqualsIgnoringAsciiCase(alias.substr(at, kLocalDomainMacro.size()), kLocalDomainMacro))
            return true;
    return false;
}

enum class LineKind { kEntry, kComment, kWithoutEquals, kWildcardOrMacro };

void Count(AliasFileReport& report, LineKind kind, bool cutOff)
{
    report.cutOff += cutOff;
    switch (kind) {
    case LineKind::kEntry: break;
    case LineKind::kComment: ++report.comments; break;
    case LineKind::kWithoutEquals: ++report.withoutEquals; break;
    case LineKind::kWildcardOrMacro: ++report.wildcardOrMacro; break;
    }
}

// What one pass over the whole text finds before its lines are parsed.
struct TextSurvey {
    size_t lineFeeds = 0;
    size_t equalsSigns = 0;
    // Lines need looking for these only when the file holds any.
    bool holdsZero = false;
    bool holdsStarOrDollar = false;
};

// The entry of one line, unless it is a comment, holds no "=", or names a
// wildcard or macro alias. The line is what text mode reads into a 512-byte
// buffer: its first 511 bytes, and of those only the bytes before a zero,
// where the stored text ends.
LineKind ParseLine(const char* line, size_t length, const TextSurvey& survey, AliasEntry& entry)
{
    const void* zero = survey.holdsZero ? memchr(line, '\0', length) : nullptr;
    if (zero)
        length = static_cast<size_t>(static_cast<const char*>(zero) - line);
    if (length > 0 && line[0] == '#')
        return LineKind::kComment;
    const char* equals = static_cast<const char*>(memchr(line, '=', length));
    if (!equals)
        return LineKind::kWithoutEquals;
    std::string_view alias(line, static_cast<size_t>(equals - line));
    if (survey.holdsStarOrDollar && (alias.find('*') != std::string_view::npos || HoldsLocalDomainMacro(alias)))
        return LineKind::kWildcardOrMacro;
    entry.alias = Trimmed(alias);
    entry.target = Trimmed({equals + 1, length - alias.size() - 1});
    return LineKind::kEntry;
}

// Lower-cases the whole text where it lies, and counts on the way. Every
// alias and target is lower-cased anyway, no other byte of the file reaches
// an answer, and none of the bytes that tell the kinds of line apart is a
// capital or becomes one.
TextSurvey LowerCaseAndSurvey(AliasText& text)
{
    TextSurvey survey;
    char* at = text.bytes.get();
    char* end = at + text.length;
    ByteBlock zeros{}, starsAndDollars{};
    while (end - at >= static_cast<ptrdiff_t>(kBlockSize)) {
        // A lane counts up to 255 blocks before the counts are added up.
        size_t blocks = std::min<size_t>(static_cast<size_t>(end - at) / kBlockSize, 255);
        ByteBlock lineFeeds{}, equalsSigns{};
        for (; blocks > 0; --blocks, at += kBlockSize) {
            ByteBlock bytes = LowerCased(LoadBlock(at));
            StoreBlock(at, bytes);
            lineFeeds -= Hits(bytes, '\n');
            equalsSigns -= Hits(bytes, '=');
            zeros |= Hits(bytes, '\0');
            starsAndDollars |= Hits(bytes, '*') | Hits(bytes, '$');
        }
        survey.lineFeeds += SumOfBytes(lineFeeds);
        survey.equalsSigns += SumOfBytes(equalsSigns);
    }
    survey.holdsZero = SumOfBytes(zeros) != 0;
    survey.holdsStarOrDollar = SumOfBytes(starsAndDollars) != 0;
    for (; at < end; ++at) {
        *at = AsciiLower(*at);
        survey.lineFeeds += *at == '\n';
        survey.equalsSigns += *at == '=';
        survey.holdsZero |= *at == '\0';
        survey.holdsStarOrDollar |= *at == '*' || *at == '$';
    }
    return survey;
}

// An entry takes a line of its own and an "=" in it: a bound on the entries
// that neither blank lines nor a line of many "=" inflate.
size_t MostEntries(const TextSurvey& survey)
{
    return std::min(survey.lineFeeds + 1, survey.equalsSigns);
}

// Calls add(entry) for each alias line of the text, in file order. A CR
// directly before an LF belongs to the line end; a lone CR stays.
template <class Add>
void ParseLines(const AliasText& text, const TextSurvey& survey, AliasFileReport* report, Add&& add)
{
    const char* at = text.bytes.get();
    const char* end = at + text.length;
    while (at < end) {
        const char* lineFeed = static_cast<const char*>(memchr(at, '\n', static_cast<size_t>(end - at)));
        const char* lineEnd = lineFeed ? lineFeed : end;
        size_t length = static_cast<size_t>(lineEnd - at);
        if (lineFeed && length > 0 && at[length - 1] == '\r')
            --length;
        bool cutOff = length > kLineLimit;
        AliasEntry entry;
        LineKind kind = ParseLine(at, std::min(length, kLineLimit), survey, entry);
        if (kind == LineKind::kEntry)
            add(entry);
        if (report)
            Count(*report, kind, cutOff);
        at = lineEnd + 1;
    }
}

AliasTable SortedTable(AliasText text, AliasFileReport* report)
{
    TextSurvey survey = LowerCaseAndSurvey(text);
    std::vector<AliasEntry> entries;
    entries.reserve(MostEntries(survey));
    ParseLines(text, survey, report, [&](const AliasEntry& entry) { entries.push_back(entry); });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const AliasEntry& a, const AliasEntry& b) { return a.target < b.target; });
    return AliasTable(std::move(text), std::move(entries));
}

// Eight bytes at a time: addresses are a few words long. Each word is
// folded down before the next, so that every byte reaches the low bits that
// pick a slot.
uint32_t HashOf(std::string_view text)
{
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    uint64_t hash = text.size();
    size_t at = 0;
    for (; at + 8 < text.size(); at += 8) {
        hash = (hash ^ LoadWord(text.data() + at, 8)) * kMultiplier;
        hash ^= hash >> 32;
    }
    // The last word ends where the text ends, overlapping the one before.
    uint64_t last = text.size() >= 8 ? LoadWord(text.data() + text.size() - 8, 8)
                                     : LoadWord(text.data() + at, text.size() - at);
    hash = (hash ^ last) * kMultiplier;
    hash ^= hash >> 29;
    hash *= 0xBF58476D1CE4E5B9u;
    return static_cast<uint32_t>(hash >> 32);
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

AliasIndex::AliasIndex(AliasText text) : text_(std::move(text))
{
    TextSurvey survey = LowerCaseAndSurvey(text_);
    size_t most = MostEntries(survey);
    if (most == 0)
        return;
    slots_.resize(2 * most);
    // Each entry's home slot is fetched a few entries before the entry goes
    // in, so that the trips to memory overlap instead of following each other.
    constexpr size_t kAhead = 8;
    Slot pending[kAhead];
    size_t parsed = 0;
    const char* base = text_.bytes.get();
    ParseLines(text_, survey, nullptr, [&](const AliasEntry& entry) {
        Slot& slot = pending[parsed % kAhead];
        if (parsed >= kAhead)
            Insert(slot);
        slot = {static_cast<uint32_t>(entry.target.data() - base), static_cast<uint32_t>(entry.alias.data() - base),
                static_cast<uint16_t>(entry.target.size()), static_cast<uint16_t>(entry.alias.size()),
                HashOf(entry.target)};
        __builtin_prefetch(&slots_[Home(slot.hash)], 1);
        aliasBytes_ += entry.alias.size();
        ++parsed;
    });
    for (size_t i = parsed > kAhead ? parsed - kAhead : 0; i < parsed; ++i)
        Insert(pending[i % kAhead]);
    count_ = parsed;
}

// The hash scaled onto the slots, so that their number need not be a power of two.
uint32_t AliasIndex::Home(uint32_t hash) const
{
    return static_cast<uint32_t>((static_cast<uint64_t>(hash) * slots_.size()) >> 32);
}

void AliasIndex::Insert(const Slot& entry)
{
    uint32_t at = Home(entry.hash);
    while (!slots_[at].Free())
        at = Following(at);
    slots_[at] = entry;
}

AliasIndex::Lookup AliasIndex::Locate(std::string_view address) const
{
    if (slots_.empty())
        return {};
    Lookup lookup{HashOf(address), 0};
    lookup.home = Home(lookup.hash);
    __builtin_prefetch(&slots_[lookup.home]);
    return lookup;
}

void AliasIndex::FetchEntries(Lookup lookup) const
{
    if (slots_.empty())
        return;
    for (uint32_t at = lookup.home; !slots_[at].Free(); at = Following(at)) {
        if (slots_[at].hash == lookup.hash) {
            __builtin_prefetch(text_.bytes.get() + slots_[at].aliasAt);
            __builtin_prefetch(text_.bytes.get() + slots_[at].targetAt);
        }
    }
}

AliasText ReadAliasText(const char* path, AliasFileReport* report)
{
    AliasText text;
    FILE* file = path[0] != '\0' ? gOs.OpenSharedForReading(path) : nullptr;
    if (file)
        ReadUntilEnd(file, text);
    if (report)
        // A directory opens on some systems and then fails to read.
        report->readable = file && !ferror(file);
    if (file)
        gOs.fclose(file);
    if (text.bytes)
        CutAtEndOfFile(text);
    return text;
}

void ReadAliasFilePath(AliasFilePath& path)
{
    memset(path, 0, sizeof path);
    gUserLibrary.VL_GetDBPath(path, kAliasFileId);
}

AliasTable ReadAliasTable(AliasFileReport* report)
{
    AliasFilePath path;
    ReadAliasFilePath(path);
    return ReadAliasTableFrom(path, report);
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
    return SortedTable(CopiedText(bytes), report);
}

AliasIndex ParseAliasIndex(std::string_view bytes)
{
    return AliasIndex(CopiedText(bytes));
}

AliasIndex ReadAliasIndex()
{
    AliasFilePath path;
    ReadAliasFilePath(path);
    return AliasIndex(ReadAliasText(path));
}

std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address)
{
    auto [first, last] = std::equal_range(table.begin(), table.end(), AliasEntry{address, {}},
                                          [](const AliasEntry& a, const AliasEntry& b) { return a.target < b.target; });
    return {first, last};
}
