// The two in-place decoders, as tables of input and expected bytes.
#include "request/base64.h"
#include "request/percent_decoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

struct DecodeCase {
    std::string input;
    std::string expected; // up to the first zero byte the decoder wrote
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const DecodeCase& c, std::ostream* os)
{
    *os << testing::PrintToString(c.input);
}

std::string Decoded(std::string text, void (*decode)(char*))
{
    text.push_back('\0');
    decode(text.data());
    return std::string(text.c_str());
}

class Base64 : public testing::TestWithParam<DecodeCase> {};

TEST_P(Base64, DecodesInPlace)
{
    auto decode = [](char* text) { DecodeBase64(text); };
    EXPECT_EQ(Decoded(GetParam().input, decode), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Base64,
    testing::Values(DecodeCase{"", ""}, DecodeCase{"YW5uOnNlY3JldA==", "ann:secret"},
                    DecodeCase{"YW5uOnNlY3JldA", "ann:secret"},
                    DecodeCase{"YW5u\r\nOnNl\nY3Jl\rdA==", "ann:secret"},
                    // Decoding ends at the first byte outside the alphabet.
                    DecodeCase{"YW5uOnNlY3JldA== trailing", "ann:secret"},
                    DecodeCase{"YW5uOnNl Y3JldA==", "ann:se"}, DecodeCase{" YW5u", ""},
                    DecodeCase{"YW5u-_", "ann"}, DecodeCase{"YW5u\xC3\xA9", "ann"},
                    // Whole groups give three bytes, three characters two, two one, one nothing.
                    DecodeCase{"YWJj", "abc"}, DecodeCase{"YWJ", "ab"}, DecodeCase{"YW", "a"},
                    DecodeCase{"Y", ""},
                    // A zero byte in the decoded text ends it: "a" NUL "b".
                    DecodeCase{"YQBi", "a"}, DecodeCase{"Oi86", ":/:"},
                    DecodeCase{"+/+/", "\xFB\xFF\xBF"}));

TEST(Base64, ReturnsTheTextItDecoded)
{
    char text[] = "YWJj";
    EXPECT_EQ(DecodeBase64(text), text);
}

class Percent : public testing::TestWithParam<DecodeCase> {};

TEST_P(Percent, DecodesInPlace)
{
    EXPECT_EQ(Decoded(GetParam().input, PercentDecode), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Percent,
                         testing::Values(DecodeCase{"", ""}, DecodeCase{"plain", "plain"},
                                         DecodeCase{"a+b", "a b"}, DecodeCase{"%41%62", "Ab"},
                                         DecodeCase{"%e9", "\xE9"}, DecodeCase{"%E9", "\xE9"},
                                         // One pass: what decoding produced is not decoded again.
                                         DecodeCase{"%2541", "%41"}, DecodeCase{"%2B", "+"},
                                         // Malformed escapes keep their "%" and go on after it.
                                         DecodeCase{"%", "%"}, DecodeCase{"%4", "%4"},
                                         DecodeCase{"%G1", "%G1"}, DecodeCase{"%%41", "%A"},
                                         DecodeCase{"100%", "100%"}, DecodeCase{"%4g", "%4g"},
                                         DecodeCase{"x%00y", "x"}, DecodeCase{"%26%3D", "&="}));

TEST(Percent, LeavesTextWithoutEscapesUntouched)
{
    char text[] = "abc\0%41";
    PercentDecode(text);
    EXPECT_EQ(std::string(text, sizeof text - 1), "abc\0%41"s);
}

} // namespace
