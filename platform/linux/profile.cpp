#include "platform/linux/profile.h"

#include "platform/linux/ascii_text.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kNone = std::string_view::npos;
// 0x1A, the old end-of-file mark, counts as white space too.
constexpr char kWhitespace[] = " \t\r\n\v\f\x1A";

struct Line {
    std::string text;
    std::string end; // "\r\n", "\n", "\r", or empty on a last line without one
};

// The file as lines, so that a write can give back every line it does not change.
struct ProfileFile {
    std::string byteOrderMark;
    std::vector<Line> lines;
};

// Where a key is: its section's header line, its own line, and the section's
// last line that is not blank, after which a new key goes.
struct Location {
    size_t section = kNone;
    size_t key = kNone;
    size_t lastContent = kNone;
};

std::string_view Trimmed(std::string_view text)
{
    return TrimmedOf(text, kWhitespace);
}

// A missing file reads as an empty one.
std::string ReadWhole(const char* path)
{
    std::string text;
    FILE* file = fopen(path, "rb");
    if (!file)
        return text;
    char block[4096];
    size_t count;
    while ((count = fread(block, 1, sizeof block, file)) > 0)
        text.append(block, count);
    fclose(file);
    return text;
}

ProfileFile Load(const char* path)
{
    ProfileFile file;
    std::string text = ReadWhole(path);
    std::string_view rest = text;
    if (rest.starts_with(kByteOrderMark)) {
        file.byteOrderMark = kByteOrderMark;
        rest.remove_prefix(kByteOrderMark.size());
    }
    while (!rest.empty()) {
        size_t end = rest.find_first_of("\r\n");
        if (end == kNone)
            end = rest.size();
        size_t endLength = rest.substr(end).starts_with("\r\n") ? 2 : end < rest.size() ? 1 : 0;
        file.lines.push_back({std::string(rest.substr(0, end)), std::string(rest.substr(end, endLength))});
        rest.remove_prefix(end + endLength);
    }
    return file;
}

// The section name of a "[name]" line; false for any other line.
bool SectionName(std::string_view line, std::string_view& name)
{
    line = Trimmed(line);
    size_t close = line.find(']');
    if (line.empty() || line[0] != '[' || close == kNone)
        return false;
    name = line.substr(1, close - 1);
    return true;
}

// A key line is "name=value"; a line without '=' is a key without a value.
std::string_view KeyName(std::string_view line)
{
    return Trimmed(line.substr(0, line.find('=')));
}

bool KeyValue(std::string_view line, std::string_view& value)
{
    size_t equals = line.find('=');
    if (equals == kNone)
        return false;
    value = Trimmed(line.substr(equals + 1));
    return true;
}

// Only the first section of a name counts, and in it only the first key of a name.
Location Find(const ProfileFile& file, std::string_view section, std::string_view key)
{
    section = Trimmed(section);
    key = Trimmed(key);
    Location location;
    // Lines before the first header belong to a section without a name.
    bool inSection = section.empty();
    for (size_t index = 0; index < file.lines.size(); ++index) {
        std::string_view line = file.lines[index].text;
        std::string_view name;
        if (SectionName(line, name)) {
            if (inSection)
                break;
            inSection = EqualsIgnoringAsciiCase(name, section);
            if (inSection)
                location.section = location.lastContent = index;
        } else if (inSection && !Trimmed(line).empty()) {
            location.lastContent = index;
            if (location.key == kNone && EqualsIgnoringAsciiCase(KeyName(line), key))
                location.key = index;
        }
    }
    return location;
}

// Trailing spaces of the default are dropped, all but a first one.
std::string_view TrimmedDefault(const char* defaultValue)
{
    std::string_view value = defaultValue ? defaultValue : "";
    while (value.size() > 1 && value.back() == ' ')
        value.remove_suffix(1);
    return value;
}

// One pair of matching quotes around the value is dropped. When the buffer has
// room for the value but not its closing quote, the last character goes
// instead of the quote, as Wine does.
DWORD CopyValue(std::string_view value, LPSTR result, DWORD size)
{
    bool quoted = value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
    if (quoted)
        value.remove_prefix(1);
    size_t count = value.size() < size - 1 ? value.size() : size - 1;
    if (quoted && size >= value.size() && count > 0)
        --count;
    std::copy_n(value.data(), count, result);
    result[count] = '\0';
    return static_cast<DWORD>(count);
}

bool Save(const char* path, const ProfileFile& file)
{
    std::string text = file.byteOrderMark;
    for (const Line& line : file.lines)
        text.append(line.text).append(line.end);
    FILE* out = fopen(path, "wb");
    if (!out)
        return false;
    bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    return fclose(out) == 0 && written;
}

// New lines end as the file's first line does; a new file gets CR LF.
std::string LineEnd(const ProfileFile& file)
{
    for (const Line& line : file.lines)
        if (!line.end.empty())
            return line.end;
    return "\r\n";
}

void Insert(ProfileFile& file, size_t position, std::string text)
{
    std::string end = LineEnd(file);
    if (position > 0 && file.lines[position - 1].end.empty())
        file.lines[position - 1].end = end;
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(position), Line{std::move(text), end});
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR result, DWORD size,
                               LPCSTR fileName)
{
    if (!result || size == 0)
        return 0;
    std::string_view value = TrimmedDefault(defaultValue);
    ProfileFile file; // holds the text that value may point into
    if (section && key && fileName) {
        file = Load(fileName);
        Location location = Find(file, section, key);
        if (location.key != kNone)
            KeyValue(file.lines[location.key].text, value);
    }
    return CopyValue(value, result, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    if (!section || !key || !value || !fileName)
        return FALSE;
    ProfileFile file = Load(fileName);
    Location location = Find(file, section, key);
    std::string_view newValue = value;
    newValue.remove_prefix(std::min(newValue.find_first_not_of(kWhitespace), newValue.size()));

    if (location.key != kNone) {
        Line& line = file.lines[location.key];
        std::string_view oldValue;
        if (KeyValue(line.text, oldValue) && oldValue == newValue)
            return TRUE;
        line.text = std::string(KeyName(line.text)).append("=").append(newValue);
    } else {
        std::string keyLine = std::string(Trimmed(key)).append("=").append(newValue);
        if (location.section != kNone) {
            Insert(file, location.lastContent + 1, std::move(keyLine));
        } else {
            Insert(file, file.lines.size(), "[" + std::string(Trimmed(section)) + "]");
            Insert(file, file.lines.size(), std::move(keyLine));
        }
    }
    return Save(fileName, file) ? TRUE : FALSE;
}
