// Code-page conversion as Windows does it: Windows-1252 for the ANSI code page
// on every byte and both ways, and UTF-8 with its treatment of invalid input.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using Units = std::vector<uint16_t>;

// Windows-1252 as Python's cp1252 codec decodes it, with the five bytes it
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) standing for themselves.
constexpr uint16_t kWindows1252[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

Units ToUnits(const WCHAR* units, int count) { return Units(units, units + count); }

std::vector<WCHAR> ToWide(const Units& units) { return std::vector<WCHAR>(units.begin(), units.end()); }

// Converts with room to spare; returns the units written, or nothing on failure.
Units FromUtf8(const std::string& bytes, DWORD flags)
{
    WCHAR target[64];
    int count = MultiByteToWideChar(CP_UTF8, flags, bytes.data(), static_cast<int>(bytes.size()), target, 64);
    return ToUnits(target, count);
}

std::string ToUtf8(const Units& units)
{
    std::vector<WCHAR> source = ToWide(units);
    char target[64];
    int count = WideCharToMultiByte(CP_UTF8, 0, source.data(), static_cast<int>(source.size()), target, 64,
                                    nullptr, nullptr);
    return std::string(target, static_cast<size_t>(count));
}

class AnsiCodePage : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        ASSERT_EQ(GetACP(), 1252u) << "The ANSI code page of this Wine prefix is not Windows-1252, so CP_ACP "
                                      "cannot be compared with the Linux side; run Wine under an English or "
                                      "C locale (LANG=C.UTF-8 or en_US.UTF-8).";
#endif
    }
};

TEST_F(AnsiCodePage, EveryByteMapsToItsWindows1252Character)
{
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes.push_back(static_cast<char>(byte));
    WCHAR wide[256];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes.data(), 256, wide, 256), 256);
    for (int byte = 0; byte < 256; ++byte)
        EXPECT_EQ(wide[byte], kWindows1252[byte]) << "byte 0x" << std::hex << byte;
}

TEST_F(AnsiCodePage, EveryWindows1252CharacterMapsBackToItsByte)
{
    std::vector<WCHAR> wide(kWindows1252, kWindows1252 + 256);
    char bytes[256];
    BOOL usedDefault = TRUE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), 256, bytes, 256, nullptr,
                                  &usedDefault),
              256);
    EXPECT_FALSE(usedDefault);
    for (int byte = 0; byte < 256; ++byte)
        EXPECT_EQ(static_cast<unsigned char>(bytes[byte]), byte) << "character U+" << std::hex << kWindows1252[byte];
}

struct AnsiCase {
    uint16_t unit;
    unsigned char byte;
    bool usedDefault;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const AnsiCase& c, std::ostream* os)
{
    *os << c.unit;
}

class AnsiWithoutBestFit : public AnsiCodePage, public testing::WithParamInterface<AnsiCase> {};

// A character without its own 1252 byte becomes the default character, never a look-alike.
TEST_P(AnsiWithoutBestFit, GivesTheExactByteOrTheDefault)
{
    const WCHAR source[] = {static_cast<WCHAR>(GetParam().unit)};
    for (const char* defaultChar : {static_cast<const char*>(nullptr), "*"}) {
        char byte = 0;
        BOOL usedDefault = !GetParam().usedDefault;
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, 1, &byte, 1, defaultChar,
                                      &usedDefault),
                  1);
        unsigned char expected = GetParam().usedDefault ? (defaultChar ? '*' : '?') : GetParam().byte;
        EXPECT_EQ(static_cast<unsigned char>(byte), expected);
        EXPECT_EQ(usedDefault != FALSE, GetParam().usedDefault);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, AnsiWithoutBestFit,
                         testing::Values(AnsiCase{0x20AC, 0x80, false}, AnsiCase{0x0081, 0x81, false},
                                         AnsiCase{0x00E9, 0xE9, false}, AnsiCase{0x0178, 0x9F, false},
                                         AnsiCase{0x0100, 0, true}, AnsiCase{0x2260, 0, true},
                                         AnsiCase{0x0131, 0, true}, AnsiCase{0xFF21, 0, true},
                                         AnsiCase{0xD800, 0, true}));

struct Utf8Case {
    std::string bytes;
    Units units; // as decoded without MB_ERR_INVALID_CHARS
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const Utf8Case& c, std::ostream* os)
{
    *os << testing::PrintToString(c.bytes);
}

class InvalidUtf8 : public testing::TestWithParam<Utf8Case> {};

TEST_P(InvalidUtf8, FailsWhenAskedToAndOtherwiseBecomesReplacementCharacters)
{
    EXPECT_EQ(FromUtf8(GetParam().bytes, MB_ERR_INVALID_CHARS), Units{});
    EXPECT_EQ(FromUtf8(GetParam().bytes, 0), GetParam().units);
}

constexpr uint16_t R = 0xFFFD;

INSTANTIATE_TEST_SUITE_P(
    Table, InvalidUtf8,
    testing::Values(
        // Overlong forms: of NUL, of U+007F, of U+0000 and U+07FF in three bytes, of U+FFFF in four.
        Utf8Case{"a\xC0\x80z", {'a', R, R, 'z'}}, Utf8Case{"a\xC1\xBFz", {'a', R, R, 'z'}},
        Utf8Case{"a\xE0\x80\x80z", {'a', R, R, 'z'}}, Utf8Case{"a\xE0\x9F\xBFz", {'a', R, R, 'z'}},
        Utf8Case{"a\xF0\x8F\xBF\xBFz", {'a', R, R, R, 'z'}},
        // Encoded surrogates.
        Utf8Case{"a\xED\xA0\x80z", {'a', R, R, 'z'}}, Utf8Case{"a\xED\xBF\xBFz", {'a', R, R, 'z'}},
        // Above U+10FFFF, and lead bytes that no valid sequence uses.
        Utf8Case{"a\xF4\x90\x80\x80z", {'a', R, R, R, 'z'}},
        Utf8Case{"a\xF5\x80\x80\x80z", {'a', R, R, R, R, 'z'}}, Utf8Case{"a\xFFz", {'a', R, 'z'}},
        // Stray continuation bytes.
        Utf8Case{"a\x80z", {'a', R, 'z'}}, Utf8Case{"a\xBF\xBFz", {'a', R, R, 'z'}},
        // Missing continuation bytes, inside the text and at its end.
        Utf8Case{"a\xC3z", {'a', R, 'z'}}, Utf8Case{"a\xE2\x82z", {'a', R, 'z'}},
        Utf8Case{"a\xF0\x9F\x98z", {'a', R, 'z'}}, Utf8Case{"a\xC3", {'a', R}},
        Utf8Case{"a\xE2\x82", {'a', R}}, Utf8Case{"a\xF0\x9F\x98", {'a', R}}));

class ValidUtf8 : public testing::TestWithParam<Utf8Case> {};

TEST_P(ValidUtf8, DecodesTheSameWithAndWithoutTheCheck)
{
    EXPECT_EQ(FromUtf8(GetParam().bytes, MB_ERR_INVALID_CHARS), GetParam().units);
    EXPECT_EQ(FromUtf8(GetParam().bytes, 0), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Table, ValidUtf8,
                         testing::Values(Utf8Case{"ann", {'a', 'n', 'n'}}, Utf8Case{"\x7F", {0x7F}},
                                         Utf8Case{"\xC2\x80", {0x80}}, Utf8Case{"\xC3\xA9", {0xE9}},
                                         Utf8Case{"\xDF\xBF", {0x7FF}}, Utf8Case{"\xE0\xA0\x80", {0x800}},
                                         Utf8Case{"\xE2\x82\xAC", {0x20AC}}, Utf8Case{"\xED\x9F\xBF", {0xD7FF}},
                                         Utf8Case{"\xEE\x80\x80", {0xE000}}, Utf8Case{"\xEF\xBF\xBF", {0xFFFF}},
                                         Utf8Case{"\xF0\x90\x80\x80", {0xD800, 0xDC00}},
                                         Utf8Case{"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
                                         Utf8Case{"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}}));

class ToUtf8Table : public testing::TestWithParam<Utf8Case> {};

// A lone surrogate, high or low, has no UTF-8 form of its own and becomes U+FFFD.
TEST_P(ToUtf8Table, Encodes) { EXPECT_EQ(ToUtf8(GetParam().units), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(Table, ToUtf8Table,
                         testing::Values(Utf8Case{"a\xC3\xA9", {'a', 0xE9}}, Utf8Case{"\xDF\xBF", {0x7FF}},
                                         Utf8Case{"\xE2\x82\xAC", {0x20AC}}, Utf8Case{"\xEF\xBF\xBF", {0xFFFF}},
                                         Utf8Case{"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
                                         Utf8Case{"a\xEF\xBF\xBD" "b", {'a', 0xD800, 'b'}},
                                         Utf8Case{"a\xEF\xBF\xBD\xEF\xBF\xBD", {'a', 0xDC00, 0xD800}}));

TEST(CodePageLengths, MinusOneConvertsTheTerminatorToo)
{
    WCHAR wide[8];
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC3\xA9", -1, wide, 8), 3);
    EXPECT_EQ(ToUnits(wide, 3), (Units{'a', 0xE9, 0}));
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80", -1, wide, 8), 2);
    EXPECT_EQ(ToUnits(wide, 2), (Units{0x20AC, 0}));

    char bytes[8];
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 8, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(bytes, 4), std::string("\xE2\x82\xAC", 4));
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, bytes, 8, nullptr, nullptr), 2);
    EXPECT_EQ(std::string(bytes, 2), std::string("\x80", 2));
}

// Each direction and code page: a target length of 0 asks for the size, and a
// target one unit short of it fails.
TEST(CodePageLengths, ZeroAsksForTheSizeAndTooSmallFails)
{
    const char* utf8 = "a\xF0\x9F\x98\x80\xC3\xA9";
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0), 5);
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);

    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 8), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 8);
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 7, nullptr, nullptr), 0);
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &usedDefault), 5);
    EXPECT_TRUE(usedDefault);
    usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, bytes, 4, nullptr, &usedDefault), 0);
    EXPECT_TRUE(usedDefault);
}

// A conversion that fails returns 0 and says why in the thread's last error.
TEST(CodePageErrors, AFailureSaysWhyInTheLastError)
{
    const WCHAR source[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    WCHAR wide[4];
    char bytes[4];
    const struct {
        const char* name;
        std::function<int()> convert;
        DWORD error;
    } cases[] = {
        {"UTF-8 into too few units", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abcdef", 6, wide, 4); },
         ERROR_INSUFFICIENT_BUFFER},
        {"ANSI into too few units", [&] { return MultiByteToWideChar(CP_ACP, 0, "abcdef", 6, wide, 4); },
         ERROR_INSUFFICIENT_BUFFER},
        {"UTF-16 into too few UTF-8 bytes",
         [&] { return WideCharToMultiByte(CP_UTF8, 0, source, 6, bytes, 4, nullptr, nullptr); },
         ERROR_INSUFFICIENT_BUFFER},
        {"UTF-16 into too few ANSI bytes",
         [&] { return WideCharToMultiByte(CP_ACP, 0, source, 6, bytes, 4, nullptr, nullptr); },
         ERROR_INSUFFICIENT_BUFFER},
        {"invalid UTF-8 refused",
         [&] { return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 4); },
         ERROR_NO_UNICODE_TRANSLATION},
        {"no source", [&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 4); }, ERROR_INVALID_PARAMETER},
        {"an empty source", [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4); },
         ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(c.convert(), 0) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

// UTF-8 never uses a default character asked for; the flag tells whether a
// lone surrogate became U+FFFD.
TEST(CodePageErrors, Utf8FlagsOnlyALoneSurrogateAsADefaultUsed)
{
    const struct {
        std::vector<WCHAR> units;
        std::string bytes;
        BOOL usedDefault;
    } cases[] = {
        {{'a', 0xE9}, "a\xC3\xA9", FALSE},
        {{'a', 0xD83D, 0xDE00}, "a\xF0\x9F\x98\x80", FALSE},
        {{'a', 0xD800, 'b'}, "a\xEF\xBF\xBD" "b", TRUE},
        {{'a', 0xDC00}, "a\xEF\xBF\xBD", TRUE},
    };
    for (const auto& c : cases) {
        char bytes[16];
        BOOL usedDefault = !c.usedDefault;
        int count = WideCharToMultiByte(CP_UTF8, 0, c.units.data(), static_cast<int>(c.units.size()), bytes, 16, "?",
                                        &usedDefault);
        EXPECT_EQ(std::string(bytes, static_cast<size_t>(std::max(count, 0))), c.bytes);
        EXPECT_EQ(usedDefault, c.usedDefault) << c.bytes;
    }
}

} // namespace
