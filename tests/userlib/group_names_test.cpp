// The extension's setting at load, through the stand-in's settings file:
// GroupNames is created empty when absent and left alone when present, or
// when the file cannot be read; and how its value splits.
#include "platform/os_calls.h"
#include "tests/not_a_file.h"
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
    GroupNameList names;
    EXPECT_TRUE(ReadGroupNames(names));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);
}

struct EnsureCase {
    const char* name;
    const char* stored;
};

// Names the case in test output.
void PrintTo(const EnsureCase& c, std::ostream* os)
{
    *os << c.name;
}

class EnsureAtLoad : public ExtensionLoadTest, public testing::WithParamInterface<EnsureCase> {};

TEST_P(EnsureAtLoad, LeavesAStoredValueAlone)
{
    const EnsureCase& c = GetParam();
    LayOut(kAdmin);
    std::string before = SettingsWith(c.stored);
    std::ofstream(server.settings, std::ios::binary) << before;

    ASSERT_EQ(Load(), TRUE);
    EXPECT_EQ(FileBytes(server.settings), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, EnsureAtLoad,
                         // A stored value that begins as the absent marker does is still stored.
                         testing::Values(EnsureCase{"Names", "Sales"}, EnsureCase{"Empty", ""},
                                         EnsureCase{"SixCommas", ",,,,,,"}, EnsureCase{"SevenCommas", ",,,,,,,"},
                                         EnsureCase{"SevenCommasThenName", ",,,,,,,Sales"}),
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
    GroupNameList names;
    EXPECT_TRUE(ReadGroupNames(names));
    EXPECT_EQ(names, c.names);
}

INSTANTIATE_TEST_SUITE_P(Cases, GroupNamesSplit,
                         testing::Values(SplitCase{"EmptyItemsDropped", ",Sales,,Support,", {"Sales", "Support"}},
                                         SplitCase{"SpacesKept", "Sales, Support", {"Sales", " Support"}},
                                         SplitCase{"Empty", "", {}}, SplitCase{"SevenCommas", ",,,,,,,", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A mail server whose main settings file names no settings file gives
// GroupNames nowhere to live: loading writes nothing, not even to a file of
// no name, which Windows takes for a folder of its own; and the filter, read
// from nowhere, is unknown, never "every account".
TEST_F(GroupNamesAtLoad, WritesNothingWhenTheServerNamesNoSettingsFile)
{
    server.InstallLibrary(server.appDirectory, "");
    server.WriteAccounts(kAdmin);
    MainSettings layout;
    layout.accounts = server.accounts.string();
    layout.aliasFile = server.aliases.string();
    std::ofstream(server.mainSettings, std::ios::binary) << MainSettingsText(layout);
    server.WriteRegistry(server.appDirectory, server.mainSettings);
    static int writes;
    writes = 0;
    gOs.WritePrivateProfileStringA = [](LPCSTR, LPCSTR, LPCSTR, LPCSTR) -> BOOL {
        ++writes;
        return TRUE;
    };

    BOOL loaded = Load();
    gOs = SystemOsCalls();

    EXPECT_EQ(loaded, TRUE);
    EXPECT_EQ(writes, 0);
    GroupNameList names;
    EXPECT_FALSE(ReadGroupNames(names));
}

// A settings file that exists but cannot be read (here a directory stands
// in its place, which neither platform can read as a file) is never taken
// for one without the key: loading leaves it alone, and the group filter,
// unknown, is never taken for "every account".
TEST_F(GroupNamesAtLoad, LeavesASettingsFileThatCannotBeReadAlone)
{
    LayOut(kAdmin);
    fs::create_directories(server.settings);

    ASSERT_EQ(Load(), TRUE);
    EXPECT_TRUE(fs::is_directory(server.settings));
    EXPECT_TRUE(fs::is_empty(server.settings));
    EXPECT_EQ(FindGroupNamesSetting(server.settings.string().c_str()), GroupNamesSetting::kUnreadable);
    GroupNameList names;
    EXPECT_FALSE(ReadGroupNames(names));
}

#ifndef _WIN32
// A device or a FIFO in the settings file's place is a file that cannot be
// read: loading answers at once and writes nothing there, and the group
// filter is unknown, never "every account".
class GroupNamesNotAFile : public ExtensionLoadTest, public testing::WithParamInterface<NotAFileKind> {};

TEST_P(GroupNamesNotAFile, IsLeftAloneAndUnknown)
{
    LayOut(kAdmin);
    NotAFile object(GetParam(), server.root / "object");
    fs::create_symlink(object.Path(), server.settings);

    EXPECT_EQ(AnsweredWithinASecond([&] { return Load(); }), TRUE);
    EXPECT_EQ(fs::read_symlink(server.settings), object.Path());
    EXPECT_EQ(fs::status(object.Path()).type(), GetParam() == NotAFileKind::kPipe ? fs::file_type::fifo
                                                                                  : fs::file_type::character);
    GroupNameList names;
    EXPECT_FALSE(AnsweredWithinASecond([&] { return ReadGroupNames(names); }));
}

INSTANTIATE_TEST_SUITE_P(Kinds, GroupNamesNotAFile, testing::Values(NotAFileKind::kDevice, NotAFileKind::kPipe),
                         [](const auto& info) { return std::string(KindName(info.param)); });
#endif

#ifdef _WIN32
// The mail server holds its settings file open, without sharing, while it
// rewrites it: a load meanwhile must not write the operator's filter away.
TEST_F(GroupNamesAtLoad, LeavesASettingsFileHeldByTheMailServerAlone)
{
    LayOut(kAdmin);
    std::string before = SettingsWith("Sales,Support");
    std::ofstream(server.settings, std::ios::binary) << before;
    HANDLE held = CreateFileA(server.settings.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    BOOL loaded = Load();
    GroupNameList names;
    bool read = ReadGroupNames(names);
    CloseHandle(held);

    EXPECT_EQ(loaded, TRUE);
    EXPECT_FALSE(read);
    EXPECT_EQ(FileBytes(server.settings), before);
    EXPECT_TRUE(ReadGroupNames(names));
    EXPECT_EQ(names, (GroupNameList{"Sales", "Support"}));
}
#endif

} // namespace
