// The profile reader and writer on arbitrary file text. The input is a
// section line, a key line and a value line, then the file's text. Whatever
// the text, a read fills at most the buffer less one, returns the length of
// what it copied, and a smaller buffer gets a prefix of what a larger one
// gets. Writing a plain value and reading it back gives the value, the other
// lines stay byte for byte, and the lines added end as the file's lines do.
#include "fuzz/fuzz_target.h"
#include "platform/ascii.h"
#include "platform/linux/profile_text.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char kWhitespace[] = " \t\r\n\v\f\x1A";
constexpr char kDefault[] = ",,,,,,,";

struct Line {
    std::string text;
    std::string end;

    bool operator==(const Line&) const = default;
};

std::string_view NextLine(std::string_view& input)
{
    size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return line;
}

std::string Trimmed(std::string_view text)
{
    size_t first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(kWhitespace) - first + 1));
}

std::string Without(std::string_view text, std::string_view bytes)
{
    std::string kept;
    for (char c : text)
        if (bytes.find(c) == std::string_view::npos)
            kept.push_back(c);
    return kept;
}

// Lines end at CR LF, LF or a lone CR; a last line may have no end.
std::vector<Line> LinesOf(std::string_view text)
{
    std::vector<Line> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(text.substr(at)), ""});
            break;
        }
        size_t endLength = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        lines.push_back({std::string(text.substr(at, end - at)), std::string(text.substr(end, endLength))});
        at = end + endLength;
    }
    return lines;
}

std::string Read(std::string_view text, std::string_view section, std::string_view key, DWORD size)
{
    std::vector<char> result(size, '#');
    DWORD count = ProfileStringFromText(text, section, key, kDefault, result.data(), size);
    if (count > size - 1)
        FuzzFailure("a read filled more than the buffer less one");
    if (result[count] != '\0' || strlen(result.data()) != count)
        FuzzFailure("a read returned another length than it copied");
    return std::string(result.data(), count);
}

void CheckRead(std::string_view text, std::string_view section, std::string_view key)
{
    std::string whole = Read(text, section, key, static_cast<DWORD>(text.size() + sizeof kDefault + 1));
    for (DWORD size : {1u, 2u, 3u, 4u, 8u, 64u}) {
        std::string part = Read(text, section, key, size);
        if (!std::string_view(whole).starts_with(part))
            FuzzFailure("a smaller buffer got other than a prefix of the value");
    }
}

// What the round trip writes: values without surrounding white space or
// quotes, on one line; sections that a header can hold; keys that no line
// takes for a header.
struct Write {
    std::string section;
    std::string key;
    std::string value;
};

bool IsQuoted(std::string_view value)
{
    return value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
}

Write PlainWrite(std::string_view section, std::string_view key, std::string_view value)
{
    std::string name = Trimmed(Without(section, std::string_view("\0\r\n]", 4)));
    Write write{name.empty() ? std::string("S") : name, Trimmed(Without(key, std::string_view("\0\r\n=[", 5))),
                Trimmed(Without(value, std::string_view("\0\r\n", 3)))};
    while (IsQuoted(write.value))
        write.value = Trimmed(std::string_view(write.value).substr(1));
    return write;
}

bool IsKeyLine(const Line& line, const Write& write)
{
    std::string_view text = line.text;
    std::string tail = "=" + write.value;
    return text.ends_with(tail) && text.size() - tail.size() == text.find('=') &&
           EqualsIgnoringAsciiCase(Trimmed(text.substr(0, text.size() - tail.size())), write.key);
}

// The end of the file's first line that ends in LF, else of its first line
// that ends at all, else CR LF.
std::string LineEndOfNewLines(const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (line.end.ends_with('\n'))
            return line.end;
    for (const Line& line : lines)
        if (!line.end.empty())
            return line.end;
    return "\r\n";
}

// The new text is the old one with the key's line replaced, or with the key
// (after its section's header when that is new too) inserted; a last line
// without an end gains one when something follows it.
void CheckOnlyTheKeyChanged(std::string_view before, std::string_view after, const Write& write)
{
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    if (before.starts_with(kMark) != after.starts_with(kMark))
        FuzzFailure("the byte-order mark was not kept");
    if (before.starts_with(kMark)) {
        before.remove_prefix(kMark.size());
        after.remove_prefix(kMark.size());
    }
    std::vector<Line> old = LinesOf(before), now = LinesOf(after);
    std::string end = LineEndOfNewLines(old);
    size_t prefix = 0, suffix = 0;
    while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix])
        ++prefix;
    while (suffix + prefix < old.size() && suffix + prefix < now.size() &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    std::vector<Line> removed(old.begin() + prefix, old.end() - suffix);
    std::vector<Line> added(now.begin() + prefix, now.end() - suffix);
    if (removed.size() == 1 && prefix + 1 == old.size() && removed[0].end.empty() && !added.empty() &&
        added[0].text == removed[0].text && added[0].end == end) {
        removed.clear();
        added.erase(added.begin());
    }
    if (added.empty() && removed.empty())
        return; // the value was already there
    if (added.empty() || !IsKeyLine(added.back(), write))
        FuzzFailure("the key's line is not the one added or changed");
    if (removed.size() == 1 && added.size() == 1) {
        std::string_view text = removed[0].text;
        if (!EqualsIgnoringAsciiCase(Trimmed(text.substr(0, text.find('='))), write.key))
            FuzzFailure("a line other than the key's changed");
        if (added[0].end != removed[0].end)
            FuzzFailure("a changed line lost its line end");
        return;
    }
    if (!removed.empty() || added.size() > 2)
        FuzzFailure("a line other than the key's changed");
    for (const Line& line : added)
        if (line.end != end)
            FuzzFailure("an added line ends otherwise than the file's lines");
    if (added.size() == 2 && added[0].text != "[" + write.section + "]")
        FuzzFailure("a new section's header is not the section's name in brackets");
}

void CheckRoundTrip(std::string_view text, const Write& write)
{
    std::string after = ProfileTextWith(text, write.section, write.key, write.value);
    CheckOnlyTheKeyChanged(text, after, write);
    if (Read(after, write.section, write.key, static_cast<DWORD>(after.size() + 1)) != write.value)
        FuzzFailure("the value written did not read back");
    if (ProfileTextWith(after, write.section, write.key, write.value) != after)
        FuzzFailure("writing the value in place again changed the text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view section = NextLine(input);
    std::string_view key = NextLine(input);
    std::string_view value = NextLine(input);
    CheckRead(input, section, key);
    CheckRoundTrip(input, PlainWrite(section, key, value));
    return 0;
}
