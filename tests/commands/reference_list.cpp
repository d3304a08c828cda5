#include "tests/commands/reference_list.h"

#include "platform/ascii.h"
#include "platform/win32.h"
#include "userlib/account_guards.h"
#include "userlib/user_library.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

namespace {

constexpr size_t kLineBufferSize = 512;
constexpr size_t kChunkSize = 64 * 1024;
constexpr std::string_view kLocalDomainMacro = "$LOCALDOMAIN$";

class TextModeReader {
public:
    explicit TextModeReader(FILE* file) : file_(file) {}

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
        length_ = fread(buffer_.get(), 1, kChunkSize, file_);
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

void ReferenceTrim(char* text)
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

void ReferenceLowerCase(char* text)
{
    for (; *text; ++text)
        *text = AsciiLower(*text);
}

void NormaliseAddress(char* text)
{
    ReferenceTrim(text);
    ReferenceLowerCase(text);
}

enum class LineKind { kEntry, kComment, kWithoutEquals, kWildcardOrMacro };

LineKind AddLine(ReferenceAliasTable& table, char* line)
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

struct ByTarget {
    bool operator()(const ReferenceAliasEntry& a, const ReferenceAliasEntry& b) const { return a.target < b.target; }
    bool operator()(const ReferenceAliasEntry& entry, std::string_view key) const { return entry.target < key; }
    bool operator()(std::string_view key, const ReferenceAliasEntry& entry) const { return key < entry.target; }
};

constexpr int kWideNameSize = kFullNameBufferSize;
constexpr int kUtf8NameSize = (kFullNameBufferSize - 1) * 3 + 1;

void AppendJsonString(std::string& out, std::string_view value)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : value) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    out += '"';
}

void ReadFullNameAsUtf8(UserHandle user, char (&utf8)[kUtf8NameSize + 1])
{
    char fullName[kFullNameBufferSize + 1] = {};
    gUserLibrary.VL_GetFullName(user, fullName);
    WCHAR wide[kWideNameSize + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, fullName, -1, wide, kWideNameSize);
    memset(utf8, 0, sizeof utf8);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kUtf8NameSize, nullptr, nullptr);
}

void AppendAccount(std::string& body, const char* address, const char* fullName,
                   std::span<const ReferenceAliasEntry> aliases)
{
    body += "\r\n{\"userName\": ";
    AppendJsonString(body, address);
    body += ", \"fullName\": ";
    AppendJsonString(body, fullName);
    body += ", \"emailAddresses\": [";
    AppendJsonString(body, address);
    for (const ReferenceAliasEntry& entry : aliases) {
        body += ", ";
        AppendJsonString(body, entry.alias);
    }
    body += "]}";
}

bool ReferenceIsListed(const char* address, const GroupNameList& groups)
{
    if (StartsWithIgnoringAsciiCase(address, "Velmora@"))
        return false;
    if (groups.empty())
        return true;
    for (const std::string& group : groups)
        if (gUserLibrary.VL_GroupFindMember(address, group.c_str()))
            return true;
    return false;
}

} // namespace

ReferenceAliasTable ReferenceReadAliasTable(const char* path, AliasFileReport* report)
{
    ReferenceAliasTable table;
    FILE* file = path[0] != '\0' ? OpenSharedForReading(path, UINT32_MAX) : nullptr;
    TextModeReader reader(file);
    char line[kLineBufferSize];
    bool cutOff = false;
    while (ReadLine(reader, line, cutOff)) {
        LineKind kind = AddLine(table, line);
        if (report)
            Count(*report, kind, cutOff);
    }
    if (report)
        report->readable = file && !ferror(file);
    if (file)
        fclose(file);
    std::stable_sort(table.begin(), table.end(), ByTarget{});
    return table;
}

bool ReferenceListBody(const ReferenceAliasTable& aliases, const GroupNameList& groups, std::string& body)
{
    AccountSearch search;
    if (!search.Started())
        return false;
    body += '[';
    bool anyWritten = false;
    do {
        char address[kEmailBufferSize + 1] = {};
        gUserLibrary.VL_GetEmail(search.Current(), address);
        if (!ReferenceIsListed(address, groups))
            continue;
        ReferenceLowerCase(address);
        char fullName[kUtf8NameSize + 1];
        ReadFullNameAsUtf8(search.Current(), fullName);
        if (anyWritten)
            body += ',';
        auto [first, last] = std::equal_range(aliases.begin(), aliases.end(), std::string_view(address), ByTarget{});
        AppendAccount(body, address, fullName, {first, last});
        anyWritten = true;
    } while (search.Next());
    body += "\r\n]\r\n";
    return true;
}
