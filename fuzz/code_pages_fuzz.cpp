// Code-page conversion on arbitrary bytes, read three ways: as ANSI text, as
// UTF-8 and as UTF-16 units. ANSI text survives the way to UTF-16 and back
// unchanged, every byte of it; UTF-8 is judged by a plain reading of the
// table of well-formed sequences: what it accepts converts exactly and back
// byte for byte, what it rejects fails when MB_ERR_INVALID_CHARS asks, and
// otherwise becomes U+FFFD without losing the ASCII around it. Any UTF-16
// becomes well-formed UTF-8, and ANSI bytes or '?' with the used-default
// flag saying whether a '?' stands in. Asking for the size gives the count a
// full buffer gets, and a buffer one unit short fails.
#include "fuzz/fuzz_target.h"
#include "platform/win32.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Units = std::vector<WCHAR>;
constexpr WCHAR kReplacement = 0xFFFD;

// The second byte's range after each lead byte; every later byte is 80..BF.
struct Lead {
    unsigned char first, last;
    int length;
    unsigned char low, high;
};
constexpr Lead kLeads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

void PutUtf16(Units& units, char32_t value)
{
    if (value < 0x10000) {
        units.push_back(static_cast<WCHAR>(value));
        return;
    }
    value -= 0x10000;
    units.push_back(static_cast<WCHAR>(0xD800 | value >> 10));
    units.push_back(static_cast<WCHAR>(0xDC00 | (value & 0x3FF)));
}

// The UTF-16 form of well-formed UTF-8; nothing for any other bytes.
std::optional<Units> WellFormedUtf8(std::string_view bytes)
{
    Units units;
    for (size_t at = 0; at < bytes.size();) {
        unsigned char lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            units.push_back(lead);
            ++at;
            continue;
        }
        const Lead* rule = nullptr;
        for (const Lead& candidate : kLeads)
            if (lead >= candidate.first && lead <= candidate.last)
                rule = &candidate;
        if (!rule || at + rule->length > bytes.size())
            return std::nullopt;
        char32_t value = lead & (0xFF >> (rule->length + 1));
        for (int index = 1; index < rule->length; ++index) {
            unsigned char byte = static_cast<unsigned char>(bytes[at + index]);
            unsigned char low = index == 1 ? rule->low : 0x80, high = index == 1 ? rule->high : 0xBF;
            if (byte < low || byte > high)
                return std::nullopt;
            value = value << 6 | (byte & 0x3F);
        }
        PutUtf16(units, value);
        at += rule->length;
    }
    return units;
}

int Length(size_t size)
{
    return static_cast<int>(size);
}

// Converts with the size asked first, then into a buffer of that size and
// into one a unit short, and checks that the three agree.
Units ToUtf16(UINT codePage, DWORD flags, std::string_view bytes)
{
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), Length(bytes.size()), nullptr, 0);
    Units units(static_cast<size_t>(needed) + 1, 0xEEEE);
    if (needed > 1 && MultiByteToWideChar(codePage, flags, bytes.data(), Length(bytes.size()), units.data(), needed - 1) != 0)
        FuzzFailure("a buffer a unit short of the size asked was taken");
    int count = needed ? MultiByteToWideChar(codePage, flags, bytes.data(), Length(bytes.size()), units.data(), needed) : 0;
    if (count != needed || units[static_cast<size_t>(needed)] != 0xEEEE)
        FuzzFailure("the size asked and the units written differ");
    units.resize(static_cast<size_t>(count));
    return units;
}

std::string FromUtf16(UINT codePage, DWORD flags, const Units& units, LPCCH defaultChar, LPBOOL usedDefault)
{
    int needed = WideCharToMultiByte(codePage, flags, units.data(), Length(units.size()), nullptr, 0, defaultChar, usedDefault);
    std::string bytes(static_cast<size_t>(needed) + 1, '\xEE');
    if (needed > 1 && WideCharToMultiByte(codePage, flags, units.data(), Length(units.size()), bytes.data(),
                                          needed - 1, defaultChar, usedDefault) != 0)
        FuzzFailure("a buffer a byte short of the size asked was taken");
    int count = needed ? WideCharToMultiByte(codePage, flags, units.data(), Length(units.size()), bytes.data(), needed,
                                             defaultChar, usedDefault)
                       : 0;
    if (count != needed || bytes[static_cast<size_t>(needed)] != '\xEE')
        FuzzFailure("the size asked and the bytes written differ");
    bytes.resize(static_cast<size_t>(count));
    return bytes;
}

bool IsUndefinedIn1252(unsigned char byte)
{
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

// Outside 80..9F a byte is its own character; there the five bytes 1252
// leaves undefined are the C1 controls of their value, the others lie
// beyond U+00FF.
void CheckAnsi(std::string_view bytes)
{
    Units units = ToUtf16(CP_ACP, 0, bytes);
    if (units.size() != bytes.size())
        FuzzFailure("an ANSI byte did not become exactly one unit");
    for (size_t index = 0; index < bytes.size(); ++index) {
        unsigned char byte = static_cast<unsigned char>(bytes[index]);
        bool own = byte < 0x80 || byte >= 0xA0 || IsUndefinedIn1252(byte);
        if (own ? units[index] != byte : units[index] < 0x100)
            FuzzFailure("an ANSI byte became another character than Windows-1252 gives it");
    }
    BOOL usedDefault = TRUE;
    if (FromUtf16(CP_ACP, WC_NO_BEST_FIT_CHARS, units, nullptr, &usedDefault) != bytes || usedDefault)
        FuzzFailure("ANSI text did not come back from UTF-16 unchanged");
}

std::vector<WCHAR> AsciiOf(const Units& units)
{
    std::vector<WCHAR> ascii;
    for (WCHAR unit : units)
        if (unit < 0x80)
            ascii.push_back(unit);
    return ascii;
}

void CheckUtf8(std::string_view bytes)
{
    std::optional<Units> expected = WellFormedUtf8(bytes);
    Units checked = ToUtf16(CP_UTF8, MB_ERR_INVALID_CHARS, bytes);
    Units lenient = ToUtf16(CP_UTF8, 0, bytes);
    if (expected) {
        if (checked != *expected || lenient != *expected)
            FuzzFailure("well-formed UTF-8 did not convert to its characters");
        if (FromUtf16(CP_UTF8, 0, checked, nullptr, nullptr) != bytes)
            FuzzFailure("well-formed UTF-8 did not come back byte for byte");
        return;
    }
    if (!checked.empty())
        FuzzFailure("ill-formed UTF-8 converted though MB_ERR_INVALID_CHARS was given");
    if (lenient.empty() || lenient.size() > bytes.size())
        FuzzFailure("ill-formed UTF-8 gave no units or more units than bytes");
    std::vector<WCHAR> asciiIn;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) < 0x80)
            asciiIn.push_back(static_cast<WCHAR>(c));
    if (AsciiOf(lenient) != asciiIn)
        FuzzFailure("ASCII around ill-formed UTF-8 was lost or changed");
    bool replaced = false;
    for (WCHAR unit : lenient)
        replaced = replaced || unit == kReplacement;
    if (!replaced)
        FuzzFailure("ill-formed UTF-8 converted without a replacement character");
    std::string again = FromUtf16(CP_UTF8, 0, lenient, nullptr, nullptr);
    if (WellFormedUtf8(again) != lenient)
        FuzzFailure("what ill-formed UTF-8 became does not come back from UTF-8");
}

// Little-endian pairs of bytes, an odd last byte dropped.
Units UnitsOf(std::string_view bytes)
{
    Units units;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2)
        units.push_back(static_cast<WCHAR>(static_cast<unsigned char>(bytes[at]) |
                                           static_cast<unsigned char>(bytes[at + 1]) << 8));
    return units;
}

// A surrogate not in a pair has no UTF-8 form and becomes U+FFFD.
Units WithLoneSurrogatesReplaced(const Units& units)
{
    Units result = units;
    for (size_t index = 0; index < result.size(); ++index) {
        bool high = result[index] >= 0xD800 && result[index] <= 0xDBFF;
        bool pairs = high && index + 1 < result.size() && result[index + 1] >= 0xDC00 && result[index + 1] <= 0xDFFF;
        if (pairs)
            ++index;
        else if (result[index] >= 0xD800 && result[index] <= 0xDFFF)
            result[index] = kReplacement;
    }
    return result;
}

void CheckUtf16(const Units& units, const std::vector<int>& byteOf)
{
    std::string utf8 = FromUtf16(CP_UTF8, 0, units, nullptr, nullptr);
    if (WellFormedUtf8(utf8) != WithLoneSurrogatesReplaced(units))
        FuzzFailure("UTF-16 did not become well-formed UTF-8 of the same characters");
    BOOL usedDefault = FALSE;
    bool replaced = WithLoneSurrogatesReplaced(units) != units;
    if (!units.empty() && (FromUtf16(CP_UTF8, 0, units, "*", &usedDefault) != utf8 || (usedDefault != FALSE) != replaced))
        FuzzFailure("UTF-8 used the default character, or its flag missed a lone surrogate");

    for (const char* defaultChar : {static_cast<const char*>(nullptr), "*"}) {
        usedDefault = FALSE;
        std::string ansi = FromUtf16(CP_ACP, WC_NO_BEST_FIT_CHARS, units, defaultChar, &usedDefault);
        if (ansi.size() != units.size())
            FuzzFailure("a unit did not become exactly one ANSI byte");
        bool substituted = false;
        for (size_t index = 0; index < units.size(); ++index) {
            int byte = byteOf[units[index]];
            substituted = substituted || byte < 0;
            char wanted = byte >= 0 ? static_cast<char>(byte) : defaultChar ? *defaultChar : '?';
            if (ansi[index] != wanted)
                FuzzFailure("a unit became another ANSI byte than its own or the default");
        }
        if ((usedDefault != FALSE) != substituted)
            FuzzFailure("the used-default flag does not tell whether the default stood in");
    }
}

// The byte that stands for each unit in code page 1252, or -1.
std::vector<int> Windows1252Bytes()
{
    std::vector<int> byteOf(0x10000, -1);
    for (int byte = 0; byte < 256; ++byte) {
        char c = static_cast<char>(byte);
        WCHAR unit = 0;
        MultiByteToWideChar(CP_ACP, 0, &c, 1, &unit, 1);
        byteOf[unit] = byte;
    }
    return byteOf;
}

// A terminated source given as -1 converts its terminator too.
void CheckTerminated(std::string_view bytes)
{
    if (bytes.find('\0') != std::string_view::npos)
        return;
    std::string terminated(bytes);
    for (UINT codePage : {CP_ACP, CP_UTF8}) {
        int counted = MultiByteToWideChar(codePage, 0, bytes.data(), Length(bytes.size()), nullptr, 0);
        if (MultiByteToWideChar(codePage, 0, terminated.c_str(), -1, nullptr, 0) != counted + 1)
            FuzzFailure("a terminated source did not count its terminator");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::vector<int> byteOf = Windows1252Bytes();
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.empty())
        return 0;
    CheckAnsi(bytes);
    CheckUtf8(bytes);
    CheckTerminated(bytes);
    Units units = UnitsOf(bytes);
    if (!units.empty())
        CheckUtf16(units, byteOf);
    return 0;
}
