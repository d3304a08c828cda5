// The Linux registry reader, twice per input. First on the input as it is (a
// value name on the first line, then the file's text): whatever the text,
// every value found answers as RegQueryValueExA must, its size counting a
// string's terminating zero, a dword four bytes, a buffer one byte short
// giving ERROR_MORE_DATA and the size needed. Then the input drives a writer
// of well-formed registry-editor lines (keys around the one read, strings
// with escapes, dwords, deletions, comments, either line end), and every
// value the lines named reads back as a plain record of those lines expects.
#include "fuzz/fuzz_target.h"
#include "platform/ascii.h"
#include "platform/linux/registry_text.h"

#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char kKey[] = "Software\\Norvane\\Velmora";

struct Value {
    DWORD type;
    std::string data;
};

// Hands out the input's bytes one at a time, then zeros.
class Bytes {
public:
    explicit Bytes(std::string_view input) : rest_(input) {}

    bool empty() const { return rest_.empty(); }

    unsigned char Next()
    {
        if (rest_.empty())
            return 0;
        unsigned char byte = static_cast<unsigned char>(rest_[0]);
        rest_.remove_prefix(1);
        return byte;
    }

    // Up to 15 bytes, none of them a line feed or a zero.
    std::string Text()
    {
        std::string text;
        for (int length = Next() % 16; length > 0 && !rest_.empty(); --length) {
            char c = static_cast<char>(Next());
            if (c != '\n' && c != '\0')
                text.push_back(c);
        }
        return text;
    }

private:
    std::string_view rest_;
};

std::string Lowered(std::string_view text)
{
    std::string lowered;
    for (char c : text)
        lowered.push_back(AsciiLower(c));
    return lowered;
}

std::string Uppered(std::string_view text)
{
    std::string uppered;
    for (char c : text)
        uppered.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    return uppered;
}

std::string Quoted(std::string_view text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

// Every check a value found must pass, whatever it holds; with the value
// expected, also that it is found and is that value.
void CheckQueries(HKEY key, const char* name, const Value* expected)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND && !expected)
        return;
    if (result != ERROR_SUCCESS)
        FuzzFailure("a value is missing, or its size query failed");
    if (expected && (type != expected->type || size != expected->data.size()))
        FuzzFailure("a value's type or size is not the one its line gave");
    if (type == REG_DWORD ? size != 4 : type != REG_SZ || size == 0)
        FuzzFailure("a value's size does not fit its type");

    std::vector<BYTE> data(size + 1, 0xEE);
    DWORD shortSize = size - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &shortSize) != ERROR_MORE_DATA ||
        shortSize != size)
        FuzzFailure("a buffer one byte short did not give ERROR_MORE_DATA and the size needed");
    DWORD fullSize = size;
    if (RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &fullSize) != ERROR_SUCCESS || fullSize != size)
        FuzzFailure("a buffer of the size given did not take the value");
    if (data[size] != 0xEE)
        FuzzFailure("a value was written past its size");
    if (type == REG_SZ && data[size - 1] != 0)
        FuzzFailure("a string value lacks its terminating zero");
    if (expected && memcmp(data.data(), expected->data.data(), size) != 0)
        FuzzFailure("a value's data is not the one its line gave");
}

void CheckArbitraryText(std::string_view input)
{
    size_t end = input.find('\n');
    std::string name(input.substr(0, end));
    name.resize(strlen(name.c_str()));
    std::string_view text = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    HKEY key = nullptr;
    if (OpenRegistryKeyFromText(text, HKEY_LOCAL_MACHINE, kKey, &key) != ERROR_SUCCESS)
        return;
    for (const char* queried : {name.c_str(), "AppPath", "IniPath", ""})
        CheckQueries(key, queried, nullptr);
    RegCloseKey(key);
}

// A registry file written from the input's bytes, and a record of what its
// lines leave in the key read: by lower-cased name, the last value given.
struct Generated {
    std::string text;
    bool keyExists = false;
    std::vector<std::string> names;
    std::map<std::string, Value> values;
};

std::string WithCase(std::string_view text, unsigned char choice)
{
    return choice % 3 == 0 ? std::string(text) : choice % 3 == 1 ? Lowered(text) : Uppered(text);
}

std::string Dword(Bytes& bytes, Value& value)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    int count = bytes.Next() % 8 + 1;
    uint32_t number = 0;
    std::string digits;
    for (int index = 0; index < count; ++index) {
        unsigned char byte = bytes.Next();
        number = number << 4 | (byte & 0xF);
        char digit = kDigits[byte & 0xF];
        digits.push_back(byte & 0x10 ? static_cast<char>(digit >= 'a' ? digit - 'a' + 'A' : digit) : digit);
    }
    value = {REG_DWORD, ""};
    for (int shift = 0; shift < 32; shift += 8)
        value.data.push_back(static_cast<char>(number >> shift & 0xFF));
    return "dword:" + digits;
}

// One value line: a string, a dword or a deletion, for a name or the default.
void AddValueLine(Bytes& bytes, Generated& file, bool inKey)
{
    unsigned char kind = bytes.Next();
    std::string name = kind & 0x10 ? "" : bytes.Text();
    std::string line = name.empty() && kind & 0x20 ? "@" : Quoted(name);
    line += kind & 0x40 ? " = " : "=";
    Value value{REG_SZ, ""};
    bool deletes = kind % 4 == 3;
    if (deletes) {
        line += "-";
    } else if (kind % 4 == 2) {
        line += Dword(bytes, value);
    } else {
        value.data = bytes.Text();
        line += Quoted(value.data);
        value.data.push_back('\0');
    }
    if (kind & 0x80)
        line += " ; " + bytes.Text();
    file.text += line;
    if (!inKey)
        return;
    file.names.push_back(name);
    if (deletes)
        file.values.erase(Lowered(name));
    else
        file.values[Lowered(name)] = value;
}

Generated Generate(Bytes& bytes)
{
    static const char* const kOtherKeys[] = {"HKEY_LOCAL_MACHINE\\Software\\Norvane\\VelmoraOther",
                                             "HKEY_LOCAL_MACHINE\\Software\\Norvane",
                                             "HKEY_LOCAL_MACHINE\\Software\\Norvane\\Velmor",
                                             "HKEY_CURRENT_USER\\Software\\Norvane\\Velmora"};
    Generated file;
    unsigned char start = bytes.Next();
    if (start & 1)
        file.text = "\xEF\xBB\xBF";
    file.text += start & 2 ? "REGEDIT4" : "Windows Registry Editor Version 5.00";
    bool inKey = false;
    for (int line = 0; line < 64 && !bytes.empty(); ++line) {
        unsigned char kind = bytes.Next();
        file.text += kind & 0x80 ? "\r\n" : "\n";
        switch (kind % 8) {
        case 0:
            file.text += "[" + WithCase("HKEY_LOCAL_MACHINE\\" + std::string(kKey), bytes.Next()) + "]";
            inKey = file.keyExists = true;
            break;
        case 1:
            file.text += "[" + WithCase("HKEY_LOCAL_MACHINE\\" + std::string(kKey) + "\\Sub", bytes.Next()) + "]";
            file.keyExists = true;
            inKey = false;
            break;
        case 2:
            file.text += "[" + std::string(kOtherKeys[bytes.Next() % 4]) + "]";
            inKey = false;
            break;
        case 3:
            file.text += ";" + bytes.Text();
            break;
        case 4:
            file.text += kind & 0x40 ? " \t" : "";
            break;
        default:
            AddValueLine(bytes, file, inKey);
        }
    }
    return file;
}

void CheckGeneratedText(std::string_view input)
{
    Bytes bytes(input);
    Generated file = Generate(bytes);
    HKEY key = nullptr;
    LONG opened = OpenRegistryKeyFromText(file.text, HKEY_LOCAL_MACHINE, kKey, &key);
    if (opened != (file.keyExists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND))
        FuzzFailure("the key opened though no line names it, or did not though one does");
    if (opened != ERROR_SUCCESS)
        return;
    for (const std::string& name : file.names) {
        auto found = file.values.find(Lowered(name));
        for (const std::string& spelling : {name, Uppered(name)}) {
            if (found != file.values.end())
                CheckQueries(key, spelling.c_str(), &found->second);
            else if (RegQueryValueExA(key, spelling.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
                FuzzFailure("a deleted value is still there");
        }
    }
    RegCloseKey(key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckArbitraryText(input);
    CheckGeneratedText(input);
    return 0;
}
