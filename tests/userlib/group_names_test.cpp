// The extension's setting at load, through the stand-in's settings file:
// GroupNames is created empty when absent, left alone when present, reset
// when it reads as the absent marker; and how its value splits.
#include "tests/userlib/server_layout.h"
#include "userlib/settings.h"

#include <fstream>
#include <sstream>

namespace {

constexpr char kAdmin[] = "admin@example.com | Admin | admin-pass | 0 | 0 | 4 |\n";

std::string FileBytes(const fs::path& file)
{
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

std::string GroupNamesValue(const fs::path& settings)
{
    char value[64] = {};
    GetPrivateProfileStringA("TessalineIntegration", "GroupNames", "(absent)", value, sizeof value,
                             settings.string().c_str());
    return value;
}

std::string SettingsWith(const std::string& groupNames)
{
    return "[General]\r\nName=Sample\r\n\r\n[TessalineIntegration]\r\nGroupNames=" + groupNames + "\r\n";
}

using GroupNamesAtLoad = ExtensionLoadTest;

TEST_F(GroupNamesAtLoad, CreatesTheSettingsFileWithAnEmptyValue)
{
    fs::path library = LayOut(kAdmin);
    ASSERT_FALSE(fs::exists(server.settings));

    ASSERT_EQ(Load(), TRUE);
    EXPECT_EQ(GroupNamesValue(server.settings), "");
    EXPECT_TRUE(ReadGroupNames().empty());
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);
}

struct EnsureCase {
    const char* name;
    const char* stored;
    bool reset;
};

// Names the case in test output.
void PrintTo(const EnsureCase& c, std::ostream* os)
{
    *os << c.name;
}

class EnsureAtLoad : public ExtensionLoadTest, public testing::WithParamInterface<EnsureCase> {};

TEST_P(EnsureAtLoad, ResetsOnlyTheAbsentMarker)
{
    const EnsureCase& c = GetParam();
    LayOut(kAdmin);
    std::string before = SettingsWith(c.stored);
    std::ofstream(server.settings, std::ios::binary) << before;

    ASSERT_EQ(Load(), TRUE);
    if (c.reset)
        EXPECT_EQ(GroupNamesValue(server.settings), "");
    else
        EXPECT_EQ(FileBytes(server.settings), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, EnsureAtLoad,
                         testing::Values(EnsureCase{"Names", "Sales", false}, EnsureCase{"Empty", "", false},
                                         EnsureCase{"SixCommas", ",,,,,,", false},
                                         EnsureCase{"SevenCommas", ",,,,,,,", true},
                                         EnsureCase{"SevenCommasThenName", ",,,,,,,Sales", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SplitCase {
    const char* name;
    const char* stored;
    GroupNameList names;
};

// Names the case in test output.
void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << c.name;
}

class GroupNamesSplit : public ExtensionLoadTest, public testing::WithParamInterface<SplitCase> {};

TEST_P(GroupNamesSplit, AtCommasOnly)
{
    const SplitCase& c = GetParam();
    LayOut(kAdmin);
    std::ofstream(server.settings, std::ios::binary) << SettingsWith(c.stored);

    ASSERT_EQ(Load(), TRUE);
    EXPECT_EQ(ReadGroupNames(), c.names);
}

INSTANTIATE_TEST_SUITE_P(Cases, GroupNamesSplit,
                         testing::Values(SplitCase{"EmptyItemsDropped", ",Sales,,Support,", {"Sales", "Support"}},
                                         SplitCase{"SpacesKept", "Sales, Support", {"Sales", " Support"}},
                                         SplitCase{"Empty", "", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
