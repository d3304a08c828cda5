// Profile files as the extension reads and writes them, CR LF and LF alike.
#include "platform/win32.h"
#include "tests/not_a_file.h"
#include "tests/platform/scratch_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char* const kLineEnds[] = {"\r\n", "\n"};

const std::vector<std::string> kSettings = {
    "; written by the mail server",
    "[Advanced]",
    "UserDllType=Sql",
    "",
    "[TessalineIntegration]",
    "GroupNames=  Staff,Sales \t",
    "  Indented  =  a = b  ",
    "Double=\"  padded  \"",
    "Single='x'",
    "Unmatched=\"open",
    "Abc=\"abc\"",
    "Empty=",
    "OnlyQuote=\"",
    "NoEquals",
    "  [Other]  ",
    "GroupNames=other",
    "[advanced]",
    "Second=2",
};

struct ReadCase {
    const char* section;
    const char* key;
    const char* defaultValue;
    DWORD size;
    const char* expected; // the return value is its length
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << testing::PrintToString(std::string(c.section) + "/" + c.key);
}

class ProfileRead : public testing::TestWithParam<std::tuple<ReadCase, const char*>> {};

TEST_P(ProfileRead, GivesTheTrimmedValueOrTheDefault)
{
    const auto& [read, lineEnd] = GetParam();
    std::string path = ScratchPath("settings.ini");
    WriteBytes(path, Joined(kSettings, lineEnd));
    char result[64];
    memset(result, '#', sizeof result);
    DWORD count = GetPrivateProfileStringA(read.section, read.key, read.defaultValue, result, read.size, path.c_str());
    EXPECT_STREQ(result, read.expected);
    EXPECT_EQ(count, strlen(read.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileRead,
    testing::Combine(
        testing::Values(
            ReadCase{"Advanced", "UserDllType", "", 16, "Sql"},
            // Section and key names compare without regard to letter case.
            ReadCase{"ADVANCED", "userdlltype", "", 16, "Sql"},
            ReadCase{"tessalineintegration", "GROUPNAMES", "", 64, "Staff,Sales"},
            ReadCase{"Other", "GroupNames", "", 64, "other"},
            // Names are looked up without their surrounding white space.
            ReadCase{" Advanced\t", " UserDllType ", "", 16, "Sql"},
            // Only the first section of a name counts.
            ReadCase{"Advanced", "Second", "dflt", 64, "dflt"},
            ReadCase{"TessalineIntegration", "Indented", "", 64, "a = b"},
            // One pair of matching quotes goes; what they enclose stays as it is.
            ReadCase{"TessalineIntegration", "Double", "", 64, "  padded  "},
            ReadCase{"TessalineIntegration", "Single", "", 64, "x"},
            ReadCase{"TessalineIntegration", "Unmatched", "", 64, "\"open"},
            ReadCase{"TessalineIntegration", "OnlyQuote", "", 64, "\""},
            ReadCase{"TessalineIntegration", "Empty", "dflt", 64, ""},
            // A value that does not fit is cut to the buffer size less one.
            ReadCase{"TessalineIntegration", "GroupNames", "", 6, "Staff"},
            ReadCase{"TessalineIntegration", "GroupNames", "", 1, ""},
            ReadCase{"TessalineIntegration", "Abc", "", 5, "abc"},
            ReadCase{"TessalineIntegration", "Abc", "", 3, "ab"},
            // Room for the text but not its closing quote: the last character goes instead.
            ReadCase{"TessalineIntegration", "Abc", "", 4, "ab"},
            // Missing keys and sections give the default, without its trailing spaces.
            ReadCase{"TessalineIntegration", "NoEquals", "dflt", 64, "dflt"},
            ReadCase{"TessalineIntegration", "Missing", "dflt  ", 64, "dflt"},
            ReadCase{"TessalineIntegration", "Missing", ",,,,,,,", 8, ",,,,,,,"},
            ReadCase{"TessalineIntegration", "Missing", ",,,,,,,", 4, ",,,"},
            ReadCase{"TessalineIntegration", "Missing", "'quoted'", 64, "quoted"},
            ReadCase{"Missing", "GroupNames", "dflt", 64, "dflt"},
            ReadCase{"TessalineIntegration", "UserDllType", "", 64, ""}),
        testing::ValuesIn(kLineEnds)));

TEST(ProfileMissingFile, GivesTheDefault)
{
    std::string path = ScratchPath("missing.ini");
    char result[8];
    EXPECT_EQ(GetPrivateProfileStringA("S", "K", "long default  ", result, sizeof result, path.c_str()), 7u);
    EXPECT_STREQ(result, "long de");
    EXPECT_EQ(GetPrivateProfileStringA("S", "K", "", result, sizeof result, path.c_str()), 0u);
    EXPECT_STREQ(result, "");
}

// The read gives the default alike for a missing key and a file it cannot
// read; only the thread's last error tells them apart.
TEST(ProfileLastError, TellsAMissingKeyFromAFileThatCannotBeRead)
{
    std::string file = ScratchPath("settings.ini"), directory = ScratchPath("directory.ini");
    WriteBytes(file, "[S]\r\nK=v\r\nEmpty=\r\n");
    std::filesystem::create_directory(directory);
    std::string missingFile = ScratchPath("missing.ini");
    std::string missingDirectory = (std::filesystem::path(ScratchPath("nowhere")) / "missing.ini").string();

    const struct {
        const char* name;
        std::string path;
        const char* key;
        DWORD error;
    } cases[] = {
        {"key", file, "K", ERROR_SUCCESS},
        {"empty key", file, "Empty", ERROR_SUCCESS},
        {"missing key", file, "Missing", ERROR_SUCCESS},
        {"missing file", missingFile, "K", ERROR_FILE_NOT_FOUND},
        {"missing directory", missingDirectory, "K", ERROR_PATH_NOT_FOUND},
        {"a directory", directory, "K", ERROR_ACCESS_DENIED},
        // Windows takes a name of no characters for its own folder.
        {"no name", "", "K", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        char value[8];
        SetLastError(12345);
        GetPrivateProfileStringA("S", c.key, ",,,,,,,", value, sizeof value, c.path.c_str());
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "x", directory.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(std::filesystem::is_directory(directory));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "x", ""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A path that names a device, a pipe or a folder gives the default at once,
// with the last error that Windows gives for that kind of object, and is
// never written to: Linux refuses the write, where Wine's "succeeds" into
// NUL without storing anything.
class ProfileNotAFile : public testing::TestWithParam<NotAFileKind> {};

TEST_P(ProfileNotAFile, GivesTheDefaultWithItsError)
{
    NotAFile object(GetParam(), ScratchPath("object"));
    char value[8] = {};
    DWORD error = AnsweredWithinASecond([&] {
        SetLastError(12345);
        GetPrivateProfileStringA("S", "K", ",,,,,,,", value, sizeof value, object.Path().c_str());
        return GetLastError();
    });
    EXPECT_STREQ(value, ",,,,,,,");
    EXPECT_EQ(error, object.ReadError());
#ifndef _WIN32
    auto kind = std::filesystem::status(object.Path()).type();
    EXPECT_FALSE(AnsweredWithinASecond(
        [&] { return WritePrivateProfileStringA("S", "K", "x", object.Path().c_str()); }));
    EXPECT_EQ(std::filesystem::status(object.Path()).type(), kind);
#endif
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProfileNotAFile, testing::ValuesIn(kNotAFileKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

#ifndef _WIN32
// A file larger than any settings file is refused whole, before a byte of it
// is read, and never rewritten; one of exactly the limit still reads.
TEST(LinuxProfileFile, LargerThanAnySettingsFileIsRefused)
{
    constexpr uintmax_t kLimit = kLargestSettingsFile;
    const struct {
        uintmax_t size;
        const char* value;
        DWORD error;
    } cases[] = {
        {kLimit, "v", ERROR_SUCCESS},
        {kLimit + 1, "(none)", ERROR_FILE_TOO_LARGE},
    };
    for (const auto& c : cases) {
        std::string path = ScratchPath("large.ini");
        WriteBytes(path, "[S]\r\nK=v\r\n");
        std::filesystem::resize_file(path, c.size);
        char value[8] = {};
        SetLastError(12345);
        GetPrivateProfileStringA("S", "K", "(none)", value, sizeof value, path.c_str());
        EXPECT_STREQ(value, c.value) << c.size;
        EXPECT_EQ(GetLastError(), c.error) << c.size;
        if (c.error != ERROR_SUCCESS) {
            EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "w", path.c_str()));
            EXPECT_EQ(std::filesystem::file_size(path), c.size);
        }
    }
}
#endif

// A value read ends at its first zero byte; quotes count only up to there.
TEST(ProfileZeroByte, EndsTheValue)
{
    std::string path = ScratchPath("zero.ini");
    using namespace std::string_literals;
    WriteBytes(path, "[S]\r\nK= ab\0cd \r\nQ=\"ab\0cd\"\r\n"s);
    char result[16];
    EXPECT_EQ(GetPrivateProfileStringA("S", "K", "", result, sizeof result, path.c_str()), 2u);
    EXPECT_STREQ(result, "ab");
    EXPECT_EQ(GetPrivateProfileStringA("S", "Q", "", result, sizeof result, path.c_str()), 3u);
    EXPECT_STREQ(result, "\"ab");
}

struct WriteCase {
    const char* name;
    std::vector<std::string> before; // empty: no file
    const char* section;
    const char* key;
    const char* value;
    std::vector<std::string> after;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const WriteCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProfileWrite : public testing::TestWithParam<std::tuple<WriteCase, const char*>> {};

TEST_P(ProfileWrite, ChangesOnlyTheKeysLine)
{
    const auto& [write, lineEnd] = GetParam();
    std::string path = ScratchPath("settings.ini");
    if (!write.before.empty())
        WriteBytes(path, Joined(write.before, lineEnd));
    ASSERT_TRUE(WritePrivateProfileStringA(write.section, write.key, write.value, path.c_str()));
    EXPECT_EQ(LogicalLines(ReadBytes(path)), write.after);

    char result[64];
    GetPrivateProfileStringA(write.section, write.key, ",,,,,,,", result, sizeof result, path.c_str());
    EXPECT_STREQ(result, write.value);
}

const std::vector<std::string> kTwoSections = {"[Advanced]", "UserDllType=Sql", "[TessalineIntegration]",
                                               "GroupNames=Staff", "Other=1", "[Last]", "Key=last"};

std::string WriteCaseName(const testing::TestParamInfo<std::tuple<WriteCase, const char*>>& info)
{
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param)[0] == '\r' ? "CrLf" : "Lf");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileWrite,
    testing::Combine(
        testing::Values(
            WriteCase{"MissingFile", {}, "TessalineIntegration", "GroupNames", "",
                      {"[TessalineIntegration]", "GroupNames="}},
            WriteCase{"MissingSection",
                      {"[Advanced]", "UserDllType=Sql"}, "TessalineIntegration", "GroupNames", "",
                      {"[Advanced]", "UserDllType=Sql", "[TessalineIntegration]", "GroupNames="}},
            WriteCase{"MissingKey",
                      kTwoSections, "tessalineintegration", "Added", "x",
                      {"[Advanced]", "UserDllType=Sql", "[TessalineIntegration]", "GroupNames=Staff", "Other=1",
                       "Added=x", "[Last]", "Key=last"}},
            WriteCase{"MissingKeyInLastSection",
                      kTwoSections, "Last", "Added", "x",
                      {"[Advanced]", "UserDllType=Sql", "[TessalineIntegration]", "GroupNames=Staff", "Other=1",
                       "[Last]", "Key=last", "Added=x"}},
            // The key keeps the spelling it has in the file.
            WriteCase{"ExistingKey",
                      kTwoSections, "TESSALINEINTEGRATION", "groupnames", "Staff,Sales",
                      {"[Advanced]", "UserDllType=Sql", "[TessalineIntegration]", "GroupNames=Staff,Sales",
                       "Other=1", "[Last]", "Key=last"}},
            WriteCase{"EmptyValue",
                      kTwoSections, "TessalineIntegration", "GroupNames", "",
                      {"[Advanced]", "UserDllType=Sql", "[TessalineIntegration]", "GroupNames=", "Other=1",
                       "[Last]", "Key=last"}}),
        testing::ValuesIn(kLineEnds)),
    WriteCaseName);

// A last line without a line end gets one before anything is added after it.
TEST(ProfileWriteUnended, AddsAfterTheLastLine)
{
    std::string path = ScratchPath("unended.ini");
    WriteBytes(path, "[S]\r\nK=1");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "New", "2", path.c_str()));
    EXPECT_EQ(LogicalLines(ReadBytes(path)), (std::vector<std::string>{"[S]", "K=1", "New=2"}));
}

} // namespace
