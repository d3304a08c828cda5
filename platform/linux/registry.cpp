#include "platform/linux/registry.h"
#include "platform/linux/registry_text.h"

#include "platform/linux/ascii_text.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/regular_file.h"
#include "platform/os_calls.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct RegistryValue {
    std::string name;
    DWORD type;
    std::string data; // as RegQueryValueExA hands it out: a string with its terminating zero
};

// An open key owns a copy of its values, taken when it was opened, so that
// open keys share nothing and a changed file never affects one already open.
struct RegistryKey {
    std::vector<RegistryValue> values;
};

namespace {

constexpr char kRoot[] = "HKEY_LOCAL_MACHINE";
constexpr char kWhitespace[] = " \t\r";

std::string_view Trimmed(std::string_view text)
{
    return TrimmedOf(text, kWhitespace);
}

// No file, or one that cannot be read, is no regular file or is larger than
// any registry export of a few keys, reads as an empty registry.
std::string ReadRegistryFile()
{
    std::string path = LocateRegistryFile(gOs.getenv(kRegistryFileVariable)).path;
    std::string text;
    // A file that cannot be read leaves the text empty.
    if (!path.empty())
        ReadRegularFile(path.c_str(), kLargestSettingsFile, text);
    return text;
}

// Reads a quoted string at the start of text, where \\ and \" are the only
// escapes, and moves text past its closing quote.
bool TakeQuoted(std::string_view& text, std::string& out)
{
    if (text.empty() || text[0] != '"')
        return false;
    for (size_t index = 1; index < text.size(); ++index) {
        char c = text[index];
        if (c == '"') {
            text.remove_prefix(index + 1);
            return true;
        }
        if (c == '\\' && index + 1 < text.size() && (text[index + 1] == '\\' || text[index + 1] == '"'))
            c = text[++index];
        out.push_back(c);
    }
    return false;
}

// What may follow a value on its line: nothing, or a comment.
bool OnlyCommentLeft(std::string_view text)
{
    text = Trimmed(text);
    return text.empty() || text[0] == ';';
}

bool ParseDword(std::string_view text, std::string& data)
{
    size_t digits = 0;
    uint32_t value = 0;
    for (; digits < text.size() && digits < 9; ++digits) {
        char c = AsciiLower(text[digits]);
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    if (digits == 0 || digits > 8 || !OnlyCommentLeft(text.substr(digits)))
        return false;
    for (int shift = 0; shift < 32; shift += 8)
        data.push_back(static_cast<char>(value >> shift & 0xFF));
    return true;
}

// Parses a '"Name"=...' or '@=...' line. Value kinds other than strings and
// dwords are not read; "-" deletes the value. A comment may follow any of them.
bool ParseValueLine(std::string_view line, RegistryValue& value, bool& deletes)
{
    if (line[0] == '@')
        line.remove_prefix(1);
    else if (!TakeQuoted(line, value.name))
        return false;
    line = Trimmed(line);
    if (line.empty() || line[0] != '=')
        return false;
    line = Trimmed(line.substr(1));
    deletes = line.starts_with('-') && OnlyCommentLeft(line.substr(1));
    if (deletes)
        return true;
    if (line.starts_with("dword:")) {
        value.type = REG_DWORD;
        return ParseDword(line.substr(6), value.data);
    }
    value.type = REG_SZ;
    if (!TakeQuoted(line, value.data) || !OnlyCommentLeft(line))
        return false;
    value.data.push_back('\0');
    return true;
}

void SetValue(std::vector<RegistryValue>& values, RegistryValue value, bool deletes)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (EqualsIgnoringAsciiCase(it->name, value.name)) {
            values.erase(it);
            break;
        }
    }
    if (!deletes)
        values.push_back(std::move(value));
}

bool IsHeader(std::string_view line)
{
    return line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00";
}

// Collects the values of the key at path (which starts with the root's name);
// false when no key in the file is that key or lies below it.
bool LoadKey(std::string_view text, std::string_view path, std::vector<RegistryValue>& values)
{
    if (text.starts_with("\xEF\xBB\xBF")) // byte-order mark that editors add to UTF-8
        text.remove_prefix(3);
    bool found = false;
    bool inKey = false;
    bool first = true;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (first) {
            if (!IsHeader(line))
                return false;
            first = false;
        } else if (line.empty() || line[0] == ';') {
            continue;
        } else if (line[0] == '[' && line.back() == ']') {
            std::string_view name = line.substr(1, line.size() - 2);
            inKey = EqualsIgnoringAsciiCase(name, path);
            found = found || inKey ||
                    (name.size() > path.size() && name[path.size()] == '\\' &&
                     EqualsIgnoringAsciiCase(name.substr(0, path.size()), path));
        } else if (inKey) {
            RegistryValue value{};
            bool deletes = false;
            if (ParseValueLine(line, value, deletes))
                SetValue(values, std::move(value), deletes);
        }
    }
    return found;
}

} // namespace

LONG OpenRegistryKeyFromText(std::string_view text, HKEY root, LPCSTR subKey, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (root != HKEY_LOCAL_MACHINE)
        return ERROR_FILE_NOT_FOUND;
    std::string path = kRoot;
    std::string_view relative = subKey ? subKey : "";
    while (relative.ends_with('\\'))
        relative.remove_suffix(1);
    if (!relative.empty())
        path.append("\\").append(relative);

    auto key = std::make_unique<RegistryKey>();
    if (!LoadKey(text, path, key->values))
        return ERROR_FILE_NOT_FOUND;
    *result = key.release();
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM, PHKEY result)
{
    return OpenRegistryKeyFromText(ReadRegistryFile(), root, subKey, result);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (!key || key == HKEY_LOCAL_MACHINE)
        return ERROR_INVALID_HANDLE;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    std::string_view name = valueName ? valueName : "";
    for (const RegistryValue& value : key->values) {
        if (!EqualsIgnoringAsciiCase(value.name, name))
            continue;
        if (type)
            *type = value.type;
        if (!size)
            return ERROR_SUCCESS;
        DWORD needed = static_cast<DWORD>(value.data.size());
        bool fits = *size >= needed;
        *size = needed;
        if (!data)
            return ERROR_SUCCESS;
        if (!fits)
            return ERROR_MORE_DATA;
        memcpy(data, value.data.data(), needed); // NOLINT(bugprone-not-null-terminated-result): a string value holds its zero
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE) // predefined, never opened
        return ERROR_SUCCESS;
    if (!key)
        return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
