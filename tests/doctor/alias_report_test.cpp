// What the alias file reader tells the doctor about the lines it ignores;
// asking for the counts never changes the table.
#include "tests/commands/alias_table.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

// Found by argument lookup from inside the standard library: not in an
// unnamed namespace.
bool operator==(const AliasEntry& a, const AliasEntry& b)
{
    return a.target == b.target && a.alias == b.alias;
}

namespace {

TEST(AliasReport, CountsIgnoredLinesByKind)
{
    TempDirectory dir;
    std::string path = dir.Write("Aliases.txt", "# comment\r\n"
                                                "\n"
                                                "no equals sign\n"
                                                "*@example.com = catch@example.com\n"
                                                "info@$LOCALDOMAIN$ = desk@example.com\n"
                                                "ann@example.com = ann.lee@example.com\n"
                                                "long@example.com = long.line@example.com" +
                                                    std::string(600, ' ') + "tail\n");
    AliasFileReport report;
    AliasTable counted = ReadAliasTableFrom(path.c_str(), &report);

    EXPECT_TRUE(report.readable);
    EXPECT_EQ(report.comments, 1u);
    EXPECT_EQ(report.withoutEquals, 2u);
    EXPECT_EQ(report.wildcardOrMacro, 2u);
    EXPECT_EQ(report.cutOff, 1u);
    EXPECT_EQ(counted, ReadAliasTableFrom(path.c_str()));
    ASSERT_EQ(counted.size(), 2u);
    EXPECT_EQ(counted[1].target, "long.line@example.com");
}

TEST(AliasReport, MissingFileOrDirectoryIsUnreadable)
{
    TempDirectory dir;
    for (const std::string& path : {dir.File("missing.txt"), dir.File("")}) {
        AliasFileReport report;
        EXPECT_TRUE(ReadAliasTableFrom(path.c_str(), &report).empty());
        EXPECT_FALSE(report.readable) << path;
    }
}

} // namespace
