#include "commands/alias_file.h"

#include "platform/ascii.h"
#include "platform/os_calls.h"

namespace {

constexpr size_t kFirstRead = size_t{64} * 1024;
constexpr std::string_view kLocalDomainMacro = "$LOCALDOMAIN$";
constexpr char kEndOfFile = 0x1A;

// The file's length when it can be told, so that one buffer holds it whole;
// zero when not. Only a hint: the file may grow or shrink while it is read.
// False when the position cannot be put back, so that the rest of the file
// cannot be read from where it was.
bool SizeHint(FILE* file, size_t& hint)
{
    hint = 0;
    long at = gOs.ftell(file);
    if (at < 0 || gOs.fseek(file, 0, SEEK_END) != 0)
        return true;
    long end = gOs.ftell(file);
    if (gOs.fseek(file, at, SEEK_SET) != 0)
        return false;
    hint = end > at ? static_cast<size_t>(end) : 0;
    return true;
}

std::unique_ptr<char[]> TextBuffer(size_t capacity)
{
    return std::make_unique_for_overwrite<char[]>(Padded(capacity));
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
// until the text is as long as the index can address. False when the read
// could not go on where it was.
bool ReadUntilEnd(FILE* file, AliasText& text)
{
    size_t capacity = kFirstRead;
    text.bytes = TextBuffer(capacity);
    for (;;) {
        if (text.length == capacity) {
            size_t hint = 0;
            if (!SizeHint(file, hint))
                return false;
            Grow(text, capacity, std::min(std::max(capacity * 2, text.length + hint + 1), kLongestAliasText));
        }
        size_t wanted = capacity - text.length;
        size_t got = gOs.fread(text.bytes.get() + text.length, 1, wanted, file);
        bool ended = memchr(text.bytes.get() + text.length, kEndOfFile, got) != nullptr;
        text.length += got;
        if (got < wanted || ended || text.length == kLongestAliasText)
            return true;
    }
}

void CutAtEndOfFile(AliasText& text)
{
    if (const void* end = memchr(text.bytes.get(), kEndOfFile, text.length))
        text.length = static_cast<size_t>(static_cast<const char*>(end) - text.bytes.get());
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

} // namespace

AliasText ReadAliasText(const char* path, AliasFileReport* report)
{
    AliasText text;
    // A file larger than the index can address is refused whole rather than
    // read in part; so is a folder, a device or a pipe.
    FILE* file = path[0] != '\0' ? gOs.OpenSharedForReading(path, kLongestAliasText) : nullptr;
    bool whole = file && ReadUntilEnd(file, text);
    if (report)
        report->readable = whole && !gOs.ferror(file);
    if (file)
        gOs.fclose(file);
    if (text.bytes)
        CutAtEndOfFile(text);
    return text;
}

AliasText CopyAliasText(std::string_view bytes)
{
    AliasText text;
    bytes = bytes.substr(0, kLongestAliasText);
    text.bytes = TextBuffer(bytes.size());
    memcpy(text.bytes.get(), bytes.data(), bytes.size());
    text.length = bytes.size();
    CutAtEndOfFile(text);
    return text;
}

void CountAliasLine(AliasFileReport& report, AliasLineKind kind, bool cutOff)
{
    report.cutOff += cutOff;
    switch (kind) {
    case AliasLineKind::kEntry: break;
    case AliasLineKind::kComment: ++report.comments; break;
    case AliasLineKind::kWithoutEquals: ++report.withoutEquals; break;
    case AliasLineKind::kWildcardOrMacro: ++report.wildcardOrMacro; break;
    }
}

AliasLineKind ParseAliasLine(const char* line, size_t length, const TextSurvey& survey, AliasEntry& entry)
{
    const void* zero = survey.holdsZero ? memchr(line, '\0', length) : nullptr;
    if (zero)
        length = static_cast<size_t>(static_cast<const char*>(zero) - line);
    if (length > 0 && line[0] == '#')
        return AliasLineKind::kComment;
    const char* equals = static_cast<const char*>(memchr(line, '=', length));
    if (!equals)
        return AliasLineKind::kWithoutEquals;
    std::string_view alias(line, static_cast<size_t>(equals - line));
    if (survey.holdsStarOrDollar && (alias.find('*') != std::string_view::npos || HoldsLocalDomainMacro(alias)))
        return AliasLineKind::kWildcardOrMacro;
    entry.alias = Trimmed(alias);
    entry.target = Trimmed({equals + 1, length - alias.size() - 1});
    return AliasLineKind::kEntry;
}

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

