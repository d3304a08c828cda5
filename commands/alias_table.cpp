#include "commands/alias_table.h"

#include "platform/ascii.h"
#include "platform/os_calls.h"
#include "userlib/user_library.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kLineBufferSize = 512;
constexpr size_t kChunkSize = 64 * 1024;
constexpr std::string_view kLocalDomainMacro = "$LOCALDOMAIN$";

// Reads a file in large chunks with the rules of Windows text mode: a CR
// directly before an LF is dropped, a lone CR stays, and 0x1A ends the file.
class TextModeReader {
public:
    explicit TextModeReader(FILE* file) : file_(file) {}

    // The next byte, or -1 at the end of the file.
    int Next()
    {
        int byte = Raw();
        if (byte == '\r' && Peek() == '\n')
            byte = Raw();
        return byte;
    }

    int Peek()
    {
        if (position_ == length_ && !Refill())
            return -1;
        return buffer_[position_];
    }

private:
    int Raw()
    {
        int byte = Peek();
        if (byte >= 0)
            ++position_;
        return byte;
    }

    bool Refill()
    {
        if (ended_ || !file_)
            return false;
        length_ = gOs.fread(buffer_.get(), 1, kChunkSize, file_);
        position_ = 0;
        if (const void* end = memchr(buffer_.get(), 0x1A, length_)) {
            length_ = static_cast<size_t>(static_cast<const unsigned char*>(end) - buffer_.get());
            ended_ = true;
        } else if (length_ < kChunkSize) {
            ended_ = true;
        }
        return length_ > 0;
    }

    FILE* file_;
    std::unique_ptr<unsigned char[]> buffer_ = std::make_unique<unsigned char[]>(kChunkSize);
    size_t position_ = 0;
    size_t length_ = 0;
    bool ended_ = false;
};

// Reads one line into the buffer: at most 511 bytes, the LF consumed, the
// rest of a longer line discarded and told through cutOff. False when
// nothing at all was left.
bool ReadLine(TextModeReader& reader, char (&line)[kLineBufferSize], bool& cutOff)
{
    cutOff = false;
    size_t stored = 0;
    int byte = reader.Next();
    if (byte < 0)
        return false;
    while (byte >= 0 && byte != '\n') {
        if (stored == kLineBufferSize - 1) {
            cutOff = true;
            while (byte >= 0 && byte != '\n')
                byte = reader.Next();
            break;
        }
        line[stored++] = static_cast<char>(byte);
        if (stored == kLineBufferSize - 1 && reader.Peek() == '\n') {
            reader.Next();
            break;
        }
        byte = reader.Next();
    }
    line[stored] = '\0';
    return true;
}

bool HoldsLocalDomainMacro(std::string_view alias)
{
    for (size_t at = 0; at + kLocalDomainMacro.size() <= alias.size(); ++at)
        if (EqualsIgnoringAsciiCase(alias.substr(at, kLocalDomainMacro.size()), kLocalDomainMacro))
            return true;
    return false;
}

void NormaliseAddress(char* text)
{
    TrimInPlace(text);
    LowerCaseInPlace(text);
}

enum class LineKind { kEntry, kComment, kWithoutEquals, kWildcardOrMacro };

// Adds the entry of one line, unless it is a comment, holds no "=", or names
// a wildcard or macro alias.
LineKind AddLine(AliasTable& table, char* line)
{
    if (line[0] == '#')
        return LineKind::kComment;
    char* target = strchr(line, '=');
    if (!target)
        return LineKind::kWithoutEquals;
    *target++ = '\0';
    char* alias = line;
    if (strchr(alias, '*') || HoldsLocalDomainMacro(alias))
        return LineKind::kWildcardOrMacro;
    NormaliseAddress(alias);
    NormaliseAddress(target);
    table.push_back({target, alias});
    return LineKind::kEntry;
}

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

// Orders by target alone, in unsigned byte order; also compares an entry
// with a bare address, so that a lookup copies nothing.
struct ByTarget {
    bool operator()(const AliasEntry& a, const AliasEntry& b) const { return a.target < b.target; }
    bool operator()(const AliasEntry& entry, std::string_view key) const { return entry.target < key; }
    bool operator()(std::string_view key, const AliasEntry& entry) const { return key < entry.target; }
};

} // namespace

AliasTable ReadAliasTableFrom(const char* path, AliasFileReport* report)
{
    AliasTable table;
    FILE* file = path[0] != '\0' ? gOs.OpenSharedForReading(path) : nullptr;
    TextModeReader reader(file);
    char line[kLineBufferSize];
    bool cutOff = false;
    while (ReadLine(reader, line, cutOff)) {
        LineKind kind = AddLine(table, line);
        if (report)
            Count(*report, kind, cutOff);
    }
    if (report)
        // A directory opens on some systems and then fails to read.
        report->readable = file && !ferror(file);
    if (file)
        gOs.fclose(file);
    std::stable_sort(table.begin(), table.end(), ByTarget{});
    return table;
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

std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address)
{
    auto [first, last] = std::equal_range(table.begin(), table.end(), address, ByTarget{});
    return {first, last};
}

void TrimInPlace(char* text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t length = strlen(text);
    while (length > 0 && isBlank(text[length - 1]))
        text[--length] = '\0';
    size_t start = 0;
    while (isBlank(text[start]))
        ++start;
    if (start > 0)
        memmove(text, text + start, length - start + 1);
}

void LowerCaseInPlace(char* text)
{
    for (; *text; ++text)
        *text = AsciiLower(*text);
}
