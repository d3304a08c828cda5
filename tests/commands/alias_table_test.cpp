// The alias file reader: which lines become entries, in what order, and how
// text-mode reading treats line ends, long lines and the end of the file.
#include "tests/commands/alias_table.h"
#include "commands/byte_blocks.h"
#include "platform/os_calls.h"
#include "tests/not_a_file.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows RowsOf(const AliasTable& table)
{
    Rows rows;
    for (const AliasEntry& entry : table)
        rows.emplace_back(entry.target, entry.alias);
    return rows;
}

Rows ReadBytes(const std::string& bytes)
{
    TempDirectory directory;
    return RowsOf(ReadAliasTableFrom(directory.Write("alias.txt", bytes).c_str()));
}

TEST(AliasTable, ReadsTheExampleFileIntoItsTable)
{
    std::string file = "#aliases of the sales desk\n"
                       "Sales@Example.com = Ann@Example.com\n"
                       "  info@example.com  =  ann@example.com \n"
                       " #x@example.com=ben@example.com\n"
                       "*@example.com = catchall@example.com\n"
                       "a@example.com = *@example.com\n"
                       "postmaster@$LocalDomain$ = admin@example.com\n"
                       "x@example.com = a@example.com = b\n"
                       "a line without an equals sign\n";
    Rows expected = {{"*@example.com", "a@example.com"},
                     {"a@example.com = b", "x@example.com"},
                     {"ann@example.com", "sales@example.com"},
                     {"ann@example.com", "info@example.com"},
                     {"ben@example.com", "#x@example.com"}};
    EXPECT_EQ(ReadBytes(file), expected);
}

struct FileCase {
    const char* name;
    std::string bytes;
    Rows rows;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.name;
}

class AliasFile : public testing::TestWithParam<FileCase> {};

TEST_P(AliasFile, GivesItsRows)
{
    EXPECT_EQ(ReadBytes(GetParam().bytes), GetParam().rows);
}

const std::string k511(511 - 4, 'x'); // "a=b=" and 507 x: 511 bytes

INSTANTIATE_TEST_SUITE_P(
    Table, AliasFile,
    testing::Values(
        FileCase{"Empty", "", {}},
        FileCase{"OnlyCommentsAndBlanks", "# one\n\n   \n#two", {}},
        FileCase{"CrLf", "a@x=t@x\r\nb@x=t@x\r\n", {{"t@x", "a@x"}, {"t@x", "b@x"}}},
        // A lone CR stays in the line; trimming then removes it at an end.
        FileCase{"LoneCr", "a@x=t\r@x\rb@x=u@x\n", {{"t\r@x\rb@x=u@x", "a@x"}}},
        FileCase{"CtrlZEndsTheFile", "a@x=t@x\n\x1A" "b@x=t@x\n", {{"t@x", "a@x"}}},
        FileCase{"LastLineWithoutLf", "a@x=t@x\nb@x=u@x", {{"t@x", "a@x"}, {"u@x", "b@x"}}},
        FileCase{"MacroInAnyCase", "x$localdomain$y=t\nx$LOCALDOMAIN$=t\n$LOCALDOMAIN=t\n",
                 {{"t", "$localdomain"}}},
        FileCase{"MacroOrWildcardInTargetIsKept", "a=$LOCALDOMAIN$\nb=*\n", {{"$localdomain$", "a"}, {"*", "b"}}},
        FileCase{"EmptySides", "=t@x\na@x=\n", {{"", "a@x"}, {"t@x", ""}}},
        FileCase{"DuplicateKept", "a@x=t@x\na@x=t@x\n", {{"t@x", "a@x"}, {"t@x", "a@x"}}},
        FileCase{"HighBytesUnchanged", "\xC9@x=T\xC9@x\n", {{"t\xC9@x", "\xC9@x"}}},
        FileCase{"Exactly511", "a=b=" + k511 + "\nc=d\n", {{"b=" + k511, "a"}, {"d", "c"}}},
        // The 511 bytes kept are the whole line; the line after is read normally.
        FileCase{"Over511CutsTheTarget", "a=" + std::string(598, 'y') + "\nc=z\n",
                 {{std::string(509, 'y'), "a"}, {"z", "c"}}},
        FileCase{"Over511CutsTheEquals", std::string(520, 'z') + "=t\nc=d\n", {{"d", "c"}}},
        FileCase{"Over511CrLf", "a=" + std::string(598, 'y') + "\r\nc=z\r\n",
                 {{std::string(509, 'y'), "a"}, {"z", "c"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AliasTable, MissingOrUnnamedFileGivesAnEmptyTable)
{
    TempDirectory directory;
    EXPECT_TRUE(ReadAliasTableFrom(directory.File("absent.txt").c_str()).empty());
    EXPECT_TRUE(ReadAliasTableFrom("").empty());
}

// A device, a pipe or a folder named as the alias file is a file that cannot
// be read, at once: no aliases, and the doctor is told it is unreadable.
class AliasFileNotAFile : public testing::TestWithParam<NotAFileKind> {};

TEST_P(AliasFileNotAFile, GivesNoAliasesAndIsUnreadable)
{
    TempDirectory directory;
    NotAFile object(GetParam(), directory.File("object"));
    AliasFileReport report;
    report.readable = true;
    AliasTable table = AnsweredWithinASecond([&] { return ReadAliasTableFrom(object.Path().c_str(), &report); });
    EXPECT_TRUE(table.empty());
    EXPECT_FALSE(report.readable);
    EXPECT_EQ(AnsweredWithinASecond([&] { return ReadAliasText(object.Path().c_str()).length; }), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AliasFileNotAFile, testing::ValuesIn(kNotAFileKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

#ifndef _WIN32
size_t gReads = 0;

// A file larger than the index can address is refused before a byte of it
// is read; one of exactly the limit is read (here its reads give nothing,
// so that no test holds 4 GiB).
TEST(AliasFileSize, LargerThanTheIndexCanAddressIsRefusedUnread)
{
    const struct {
        uint64_t size;
        bool read;
    } cases[] = {{UINT32_MAX, true}, {uint64_t{UINT32_MAX} + 1, false}};
    for (const auto& c : cases) {
        TempDirectory directory;
        std::string path = directory.Write("alias.txt", "a@x=b@x\n");
        std::filesystem::resize_file(path, c.size);
        gReads = 0;
        gOs.fread = [](void*, size_t, size_t, FILE*) -> size_t { return ++gReads, 0; };
        AliasFileReport report;
        ReadAliasTableFrom(path.c_str(), &report);
        gOs = SystemOsCalls();
        EXPECT_EQ(report.readable, c.read) << c.size;
        EXPECT_EQ(gReads > 0, c.read) << c.size;
    }
}
#endif

// fseek, failing only for one origin.
template <int Origin>
int FailingSeek(FILE* file, long offset, int origin)
{
    return origin == Origin ? -1 : fseek(file, offset, origin);
}

// A file larger than the first read is measured with a seek to its end and
// back. Without a measure it is still read whole; when the way back fails,
// what was read stays and the file is reported as not read whole.
TEST(AliasFileSize, AFailedMeasureCostsNothingAndAFailedReturnIsReported)
{
    using Inject = void (*)();
    const struct {
        const char* name;
        Inject inject;
        bool whole;
    } cases[] = {
        {"tell", [] { gOs.ftell = [](FILE*) -> long { return -1; }; }, true},
        {"seek to the end", [] { gOs.fseek = FailingSeek<SEEK_END>; }, true},
        {"seek back", [] { gOs.fseek = FailingSeek<SEEK_SET>; }, false},
    };
    TempDirectory directory;
    std::string lines;
    while (lines.size() < 200 * 1024)
        lines += "alias" + std::to_string(lines.size()) + "@example.com = ann@example.com\r\n";
    std::string path = directory.Write("alias.txt", lines);
    for (const auto& c : cases) {
        c.inject();
        AliasFileReport report;
        size_t length = ReadAliasText(path.c_str(), &report).length;
        gOs = SystemOsCalls();
        EXPECT_EQ(report.readable, c.whole) << c.name;
        EXPECT_EQ(length, c.whole ? lines.size() : size_t{64} * 1024) << c.name;
    }
}

TEST(AliasTable, SortsByTargetBytesUnsignedAndKeepsFileOrder)
{
    Rows rows = ReadBytes("1=a@x.x\n2=\xE9@x\n3=a@x\n4=z@x\n5=a@x\n6=a@x.x\n");
    Rows expected = {{"a@x", "3"}, {"a@x", "5"}, {"a@x.x", "1"}, {"a@x.x", "6"}, {"z@x", "4"}, {"\xE9@x", "2"}};
    EXPECT_EQ(rows, expected);
}

TEST(AliasTable, FindsTheRunOfOneTarget)
{
    TempDirectory directory;
    AliasTable table =
        ReadAliasTableFrom(directory.Write("a.txt", "s@x=ann@x\ni@x=ann@x\nb@x=ben@x\nc@x=ann@x.x\n").c_str());
    auto names = [](std::span<const AliasEntry> run) {
        std::vector<std::string> aliases;
        for (const AliasEntry& entry : run)
            aliases.emplace_back(entry.alias);
        return aliases;
    };
    EXPECT_EQ(names(FindAliases(table, "ann@x")), (std::vector<std::string>{"s@x", "i@x"}));
    EXPECT_EQ(names(FindAliases(table, "ben@x")), std::vector<std::string>{"b@x"});
    EXPECT_TRUE(FindAliases(table, "an@x").empty());
    EXPECT_TRUE(FindAliases(table, "").empty());
}

TEST(AliasTable, ReadsAcrossLargeReads)
{
    // Enough lines that text-mode reading refills its buffer, with a CR LF
    // split between two reads somewhere along the way.
    std::string file;
    Rows expected;
    for (int i = 0; i < 20000; ++i) {
        std::string n = std::to_string(i);
        file += "a" + n + "@x = t@x\r\n";
        expected.emplace_back("t@x", "a" + n + "@x");
    }
    EXPECT_EQ(ReadBytes(file), expected);
}

// Sixteen bytes at a time, as the alias file and each address are lower-cased.
TEST(TextHelpers, LowerCasedChangesOnlyAsciiCapitals)
{
    const struct {
        const char* input;
        const char* lowered;
    } cases[] = {
        {"", ""},
        {" \t\r\n", " \t\r\n"},
        {"  A b\t", "  a b\t"},
        {"\xC9Z[@", "\xC9z[@"},
        {"Ann.Lee@Example.", "ann.lee@example."},
        {"@AZ[`az{\xC1\xDA\xE1\xFA\x80\xFF\x7F", "@az[`az{\xC1\xDA\xE1\xFA\x80\xFF\x7F"},
    };
    for (const auto& c : cases) {
        char block[kBlockSize] = {};
        memcpy(block, c.input, strlen(c.input));
        StoreBlock(block, LowerCased(LoadBlock(block)));
        EXPECT_EQ(std::string(block, strlen(c.input)), c.lowered) << c.input;
    }
}

} // namespace
