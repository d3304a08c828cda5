// The doctor on mail servers laid out from the sample and the stand-in or a
// partial user library, one fault at a time: the exit status, and the step
// that must be reported failed or warned about.
#include "doctor/diagnosis.h"
#include "doctor/load_messages.h"
#include "tests/userlib/server_layout.h"

#include <fstream>
#include <sstream>

namespace {

std::string ReadText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteSettings(const ServerLayout& server, const std::string& groupNames)
{
    std::ofstream(server.settings, std::ios::binary) << "[TessalineIntegration]\r\nGroupNames=" << groupNames
                                                     << "\r\n";
}

// The sample's data files with this type of user library.
void LayOutSample(ServerLayout& server, const std::string& libraryType)
{
    server.InstallLibrary(server.appDirectory, libraryType);
    fs::copy_file(SampleDirectory() / "Accounts.txt", server.accounts);
    fs::copy_file(SampleDirectory() / "Aliases.txt", server.aliases);
    fs::copy_file(SampleDirectory() / "Settings.ini", server.settings);
    server.WriteMainSettings(server.mainSettings, libraryType);
    server.WriteRegistry(server.appDirectory, server.mainSettings);
}

class DoctorTest : public testing::Test {
protected:
    void SetUp() override { gUserLibrary = BindingTable{}; }

    Report Diagnose(const std::string& caller = "", const std::string& auth = "")
    {
        DoctorOptions options;
        options.checkCaller = caller.empty() ? "" : caller;
        options.checkAuth = auth.empty() ? "" : auth;
        CheckPasswords passwords{&password, &password};
        return ::Diagnose(options, passwords);
    }

    ServerLayout server;
    std::string password;
};

struct LayoutCase {
    const char* name;
    const char* libraryType;
    void (*spoil)(ServerLayout&);
    const char* caller; // with this password, or empty
    const char* password;
    int exitStatus;
    const char* step;
    Outcome outcome;
    const char* detail; // a part of the step's detail
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.name;
}

void Keep(ServerLayout&) {}

const LayoutCase kLayouts[] = {
    {"HealthySample", "", Keep, "admin@example.com", "admin-pass", 0, "load-test", Outcome::kOk, "would load"},
    {"NoRegistryKey", "", [](ServerLayout& s) { s.RemoveRegistryKey(); }, "", "", 1, "registry", Outcome::kFailed,
     kNoServerKey},
    {"EmptyIniPath", "", [](ServerLayout& s) { s.WriteRegistry({{"AppPath", s.appDirectory.string()}, {"IniPath", ""}}); },
     "", "", 1, "IniPath", Outcome::kFailed, "IniPath is empty"},
    {"AppPathPointingNowhere", "", [](ServerLayout& s) { s.WriteRegistry(s.root / "Nowhere", s.mainSettings); }, "",
     "", 1, "load", Outcome::kFailed, kLibraryNotThere},
    {"EntryPointMissing", "NoGroupMember", Keep, "", "", 0, "VL_GroupFindMember", Outcome::kWarning,
     "missing: list answers 500"},
    {"NoReloadUsers", "NoReload", Keep, "", "", 1, "reload", Outcome::kFailed, kNoReloadUsers},
    {"NoGetIsFrozen", "NoFrozen", Keep, "", "", 1, "load-test", Outcome::kFailed, kNoGetIsFrozen},
    // A directory in place of the file: the tests run as root here, whom
    // taking the file's permissions away would not stop.
    {"AliasFileUnreadable", "",
     [](ServerLayout& s) {
         fs::remove(s.aliases);
         fs::create_directory(s.aliases);
     },
     "", "", 0, "alias-file", Outcome::kWarning, "cannot be read: list shows no aliases"},
    {"GroupWithoutMembers", "", [](ServerLayout& s) { WriteSettings(s, "Sales,Nobody"); }, "", "", 0, "group:Nobody",
     Outcome::kWarning, "\"Nobody\": 0 accounts"},
    {"GroupNamesLongerThanRead", "", [](ServerLayout& s) { WriteSettings(s, "Sales," + std::string(410, 'x')); }, "",
     "", 0, "GroupNames", Outcome::kWarning, "416 characters; the extension reads only the first 409"},
    {"CallerWithoutPermission4", "", Keep, "ann.lee@example.com", "ann-pass", 1, "caller", Outcome::kFailed,
     "lacks web-configuration permission 4"},
    {"CallerWrongPassword", "", Keep, "admin@example.com", "ann-pass", 1, "caller", Outcome::kFailed,
     "wrong password"},
#ifdef _WIN32
    {"Library32Bit", "",
     [](ServerLayout& s) {
         fs::copy_file(fs::path(LIBRARY_32BIT).make_preferred(), s.appDirectory / "VLUser.dll",
                       fs::copy_options::overwrite_existing);
     },
     "", "", 1, "load", Outcome::kFailed,
     "the user library is 32-bit; the extension and the IIS application pool are 64-bit"},
    // VLDependency.dll is left where it was built, beside neither the
    // library nor the test.
    {"LibrarysOwnDllMissing", "Dependent", Keep, "", "", 1, "load", Outcome::kFailed,
     "the user library needs VLDependency.dll"},
#endif
};

class Layout : public DoctorTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(Layout, ReportsTheStepAndExitStatus)
{
    const LayoutCase& c = GetParam();
    LayOutSample(server, c.libraryType);
    c.spoil(server);
    password = c.password;

    Report report = Diagnose(c.caller);

    SCOPED_TRACE(PlainText(report));
    EXPECT_EQ(ExitStatus(report), c.exitStatus);
    const Step* step = report.Find(c.step);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->outcome, c.outcome);
    EXPECT_NE(step->detail.find(c.detail), std::string::npos);
    EXPECT_FALSE(AllBound(gUserLibrary.VL_ReloadUsers)) << "the library stays loaded";
}

INSTANTIATE_TEST_SUITE_P(Doctor, Layout, testing::ValuesIn(kLayouts), [](const auto& info) {
    return std::string(info.param.name);
});

struct CheckCase {
    const char* name;
    bool auth; // else the caller check
    const char* address;
    const char* password;
    const char* result;
};

void PrintTo(const CheckCase& c, std::ostream* os)
{
    *os << c.name;
}

const CheckCase kChecks[] = {
    {"CallerAccepted", false, "admin@example.com", "admin-pass", "ok"},
    {"CallerUnknown", false, "nobody@example.com", "admin-pass", "no-such-account"},
    {"CallerDisabled", false, "old.staff@example.com", "old-pass", "disabled"},
    {"CallerWithoutPermission4", false, "ann.lee@example.com", "ann-pass", "no-permission-4"},
    {"CallerWrongPassword", false, "admin@example.com", "wrong", "wrong-password"},
    {"AuthAccepted", true, "ann.lee@example.com", "ann-pass", "ok"},
    {"AuthNotAnAddress", true, "ann.lee", "ann-pass", "not-an-address"},
    {"AuthUnknown", true, "nobody@example.com", "ann-pass", "no-such-account"},
    {"AuthDisabled", true, "old.staff@example.com", "old-pass", "disabled"},
    {"AuthFrozen", true, "paul.frost@example.com", "paul-pass", "frozen"},
    {"AuthWrongPassword", true, "ann.lee@example.com", "wrong", "wrong-password"},
    {"AuthPasswordOutsideCodePage", true, "ann.lee@example.com", "\xE2\x84\xA6", "password-not-in-code-page"},
};

class Check : public DoctorTest, public testing::WithParamInterface<CheckCase> {};

TEST_P(Check, NamesTheFailedCheck)
{
    const CheckCase& c = GetParam();
    LayOutSample(server, "");
    password = c.password;

    Report report = c.auth ? Diagnose("", c.address) : Diagnose(c.address);

    EXPECT_EQ(c.auth ? report.auth : report.caller, c.result);
    EXPECT_EQ(ExitStatus(report), std::string(c.result) == "ok" ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Doctor, Check, testing::ValuesIn(kChecks), [](const auto& info) {
    return std::string(info.param.name);
});

TEST_F(DoctorTest, CountsWhatListWouldShow)
{
    LayOutSample(server, "");
    WriteSettings(server, "Sales");

    Report report = Diagnose();

    EXPECT_EQ(report.accounts, 7);
    EXPECT_EQ(report.listed, 1);
    EXPECT_EQ(report.aliases, 3);
    const Step* group = report.Find("group:Sales");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->detail, "\"Sales\": 1 accounts");
}

TEST_F(DoctorTest, WritesNothingWhereTheExtensionWouldAddGroupNames)
{
    LayOutSample(server, "");
    std::ofstream(server.settings, std::ios::binary) << "[Other]\r\nKey=1\r\n";

    Report report = Diagnose();

    EXPECT_EQ(ReadText(server.settings), "[Other]\r\nKey=1\r\n");
    const Step* groupNames = report.Find("GroupNames");
    ASSERT_NE(groupNames, nullptr);
    EXPECT_EQ(groupNames->outcome, Outcome::kOk);
    EXPECT_NE(groupNames->detail.find("the extension would add it empty on its first load"), std::string::npos);
}

TEST_F(DoctorTest, JsonCarriesTheFiguresAndWarnings)
{
    LayOutSample(server, "");
    WriteSettings(server, "Nobody");

    std::string json = Json(Diagnose());

    EXPECT_NE(json.find("{\"loads\": true, \"steps\": ["), std::string::npos);
    EXPECT_NE(json.find("{\"step\": \"group:Nobody\", \"ok\": false, \"warning\": true, \"detail\": \"\\\"Nobody\\\": 0 "
                        "accounts; no account is a member, so this name lists nobody\"}"),
              std::string::npos);
    EXPECT_NE(json.find("\"accounts\": 7, \"listed\": 0, \"aliases\": 3}"), std::string::npos);
}

} // namespace
