// The doctor on mail servers laid out from the sample and the stand-in or a
// partial user library, one fault at a time: the exit status, and the step
// that must be reported failed or warned about.
#include "doctor/diagnosis.h"
#include "doctor/load_messages.h"
#include "doctor/system.h"
#include "platform/os_calls.h"
#include "tests/fake_host.h"
#include "tests/userlib/server_layout.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

// Puts a folder, or on Linux a FIFO or a link to a device, where the file was.
void ReplaceByFolder(const fs::path& file)
{
    fs::remove(file);
    fs::create_directory(file);
}

#ifndef _WIN32
void ReplaceByFifo(const fs::path& file)
{
    fs::remove(file);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
}

void ReplaceByDevice(const fs::path& file)
{
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
}

void PointRegistryAt(const fs::path& object)
{
    setenv("VELMORA_REGISTRY_FILE", object.c_str(), 1);
}

// One byte past what the extension's readers of registry and settings files take.
void GrowPastLimit(const fs::path& file)
{
    fs::resize_file(file, kLargestSettingsFile + 1);
}
#endif

#ifdef _WIN32
// Where a 32-bit mail server keeps its key: the 64-bit view has none.
void WriteKeyIn32BitView(ServerLayout& server)
{
    server.RemoveRegistryKey();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServerKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}
#endif

#ifdef _WIN32
constexpr char kSystemSaysMissing[] = "the system says: error 2";
#else
constexpr char kSystemSaysMissing[] = "the system says: No such file or directory";
#endif

class DoctorTest : public testing::Test {
protected:
    void SetUp() override { gUserLibrary = BindingTable{}; }
#ifdef _WIN32
    void TearDown() override { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kServerKey, KEY_WOW64_32KEY, 0); }
#endif

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
    // list answers 500 without VL_GroupFindMember: the entry point warns,
    // list fails.
    {"EntryPointMissing", "NoGroupMember", Keep, "", "", 1, "VL_GroupFindMember", Outcome::kWarning,
     "missing: list answers 500"},
    {"ListWithoutEntryPoint", "NoGroupMember", Keep, "", "", 1, "list", Outcome::kFailed,
     "list answers 500: the user library lacks an entry point it needs"},
    {"NoReloadUsers", "NoReload", Keep, "", "", 1, "reload", Outcome::kFailed, kNoReloadUsers},
    {"NoGetIsFrozen", "NoFrozen", Keep, "", "", 1, "load-test", Outcome::kFailed, kNoGetIsFrozen},
    {"IniPathNamesFolder", "", [](ServerLayout& s) { s.WriteRegistry(s.appDirectory, s.root); }, "", "", 1,
     "IniPath", Outcome::kWarning, "is a folder, not a file; the doctor does not read it"},
    {"NoAccountListed", "", [](ServerLayout& s) { WriteSettings(s, "Nobody"); }, "", "", 1, "list", Outcome::kFailed,
     "list would show 0 of 7 accounts: it answers 200 with an empty array, []\nno account is a member of a group"},
    {"CallerWhenLibraryKnowsNoAccount", "", [](ServerLayout& s) { s.WriteAccounts(""); }, "admin@example.com",
     "admin-pass", 1, "caller", Outcome::kFailed, "no such account; the user library knows no account at all"},
    // The tests run as root here, whom taking the file's permissions away
    // would not stop; a missing file shows the system's reason as well.
    {"AliasFileMissing", "", [](ServerLayout& s) { fs::remove(s.aliases); }, "", "", 0, "alias-file",
     Outcome::kWarning, kSystemSaysMissing},
    {"AliasFileIsFolder", "", [](ServerLayout& s) { ReplaceByFolder(s.aliases); }, "", "", 0, "alias-file",
     Outcome::kWarning, "Aliases.txt is a folder, not a file; the doctor does not read it\nthe extension cannot read "
                        "it: list shows no aliases"},
    {"SettingsFileIsFolder", "", [](ServerLayout& s) { ReplaceByFolder(s.settings); }, "", "", 1, "settings-file",
     Outcome::kWarning, "Settings.ini is a folder, not a file; the doctor does not read it\nthe extension cannot read "
                        "it: it leaves it untouched at load, and list answers 500"},
#ifndef _WIN32
    {"AliasFileIsFifo", "", [](ServerLayout& s) { ReplaceByFifo(s.aliases); }, "", "", 0, "alias-file",
     Outcome::kWarning, "Aliases.txt is a pipe (FIFO), not a file"},
    {"AliasFileIsDevice", "", [](ServerLayout& s) { ReplaceByDevice(s.aliases); }, "", "", 0, "alias-file",
     Outcome::kWarning, "Aliases.txt is a device, not a file"},
    {"SettingsFileIsFifo", "", [](ServerLayout& s) { ReplaceByFifo(s.settings); }, "", "", 1, "list",
     Outcome::kFailed, "list answers 500: the settings file is no file it can read"},
    {"IniPathNamesDevice", "", [](ServerLayout& s) { s.WriteRegistry(s.appDirectory, "/dev/null"); }, "", "", 1,
     "IniPath", Outcome::kWarning,
     "the main settings file /dev/null is a device, not a file; the doctor does not read it\nthe extension cannot "
     "read it: everything read from it is empty\n[Advanced] UserDllType reads as empty"},
    {"RegistryFileIsFifo", "",
     [](ServerLayout& s) {
         ReplaceByFifo(s.root / "registry.fifo");
         PointRegistryAt(s.root / "registry.fifo");
     },
     "", "", 1, "registry", Outcome::kFailed,
     "registry.fifo is a pipe (FIFO), not a file; the doctor does not read it\nthe extension cannot read it: it "
     "finds no key"},
    {"RegistryFileIsDevice", "", [](ServerLayout&) { PointRegistryAt("/dev/zero"); }, "", "", 1, "registry",
     Outcome::kFailed, "the registry file /dev/zero is a device, not a file"},
    {"RegistryFileIsFolder", "", [](ServerLayout& s) { PointRegistryAt(s.root); }, "", "", 1, "registry",
     Outcome::kFailed, "is a folder, not a file"},
    {"RegistryFileOverLimit", "", [](ServerLayout& s) { GrowPastLimit(s.root / "registry.reg"); }, "", "", 1,
     "registry", Outcome::kFailed,
     "registry.reg is over the 4 MiB limit the extension reads; the doctor does not read it\nthe extension cannot "
     "read it: it finds no key, and refuses to load"},
    {"IniPathOverLimit", "", [](ServerLayout& s) { GrowPastLimit(s.mainSettings); }, "", "", 1, "IniPath",
     Outcome::kWarning,
     "Velmora.ini is over the 4 MiB limit the extension reads; the doctor does not read it\nthe extension cannot "
     "read it: everything read from it is empty\n[Advanced] UserDllType reads as empty"},
    {"SettingsFileOverLimit", "", [](ServerLayout& s) { GrowPastLimit(s.settings); }, "", "", 1, "settings-file",
     Outcome::kWarning,
     "Settings.ini is over the 4 MiB limit the extension reads; the doctor does not read it\nthe extension cannot "
     "read it: it leaves it untouched at load, and list answers 500"},
#endif
    {"GroupWithoutMembers", "", [](ServerLayout& s) { WriteSettings(s, "Sales,Nobody"); }, "", "", 0, "group:Nobody",
     Outcome::kWarning, "\"Nobody\": 0 accounts; no account is a member, so this name lists nobody"},
    // GroupNames is split at commas alone: the white space stays in the name.
    {"GroupNameWithLeadingSpace", "", [](ServerLayout& s) { WriteSettings(s, "Nobody, Sales"); }, "", "", 1,
     "group: Sales", Outcome::kWarning,
     "\" Sales\": 0 accounts; the name begins with white space, which the extension keeps as part of it, since it "
     "splits GroupNames at commas only\n\"Sales\" has 1 accounts"},
    {"GroupNameWithTrailingSpace", "", [](ServerLayout& s) { WriteSettings(s, "Sales\t,Nobody"); }, "", "", 1,
     "group:Sales\t", Outcome::kWarning, "the name ends with white space"},
    {"SpacedGroupWithoutMembersEitherWay", "", [](ServerLayout& s) { WriteSettings(s, "Sales, Nobody"); }, "", "", 0,
     "group: Nobody", Outcome::kWarning, "\"Nobody\" has 0 accounts too: no account is a member either way"},
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
    // The system's text names the file where its message has an insert.
    {"Library32BitSystemText", "",
     [](ServerLayout& s) {
         fs::copy_file(fs::path(LIBRARY_32BIT).make_preferred(), s.appDirectory / "VLUser.dll",
                       fs::copy_options::overwrite_existing);
     },
     "", "", 1, "load", Outcome::kFailed, "the system says: error 193: "},
    // Windows reads a device as a file: what it gives is no alias file.
    {"AliasFileIsDevice", "",
     [](ServerLayout& s) {
         MainSettings text;
         text.accounts = s.accounts.string();
         text.aliasFile = "NUL";
         text.settingsFile = s.settings.string();
         std::ofstream(s.mainSettings, std::ios::binary) << MainSettingsText(text);
     },
     "", "", 0, "alias-file", Outcome::kWarning,
     "NUL is a device, not a file; the doctor does not read it\nthe extension would read it as a file and take "
     "whatever it gives, if it answers at all"},
    {"KeyOnlyIn32BitView", "", [](ServerLayout& s) { WriteKeyIn32BitView(s); }, "", "", 1, "registry",
     Outcome::kFailed,
     "found only in HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Norvane\\Velmora, the 32-bit registry view"},
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
    EXPECT_EQ(gUserLibrary.VL_ReloadUsers, nullptr) << "the library stays loaded";
    for (const Step& each : report.steps)
        EXPECT_EQ(each.detail.find("%1"), std::string::npos) << "a system message's insert left in " << each.name;
}

INSTANTIATE_TEST_SUITE_P(Doctor, Layout, testing::ValuesIn(kLayouts), [](const auto& info) {
    return std::string(info.param.name);
});

// Sets one value of the mail server's key, stored as the type given. The
// Linux registry file holds strings and dwords only: there a dword, from
// the first four bytes.
void SetServerValue(const ServerLayout& server, const char* name, DWORD type, const std::string& data)
{
#ifdef _WIN32
    (void)server;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
#else
    ASSERT_EQ(type, static_cast<DWORD>(REG_DWORD));
    uint32_t value = 0;
    memcpy(&value, data.data(), sizeof value);
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", value);
    // A later line of the same name replaces the earlier one.
    std::ofstream(server.root / "registry.reg", std::ios::binary | std::ios::app)
        << "\"" << name << "\"=dword:" << hex << "\r\n";
#endif
}

// A value the extension reads as a string whatever its type: the doctor
// names the type, and fails the step when what the extension made of the
// value does not load.
struct ValueTypeCase {
    const char* name;
    const char* value;
    DWORD type;
    std::string (*data)(const ServerLayout&);
    bool loads; // as the extension answers
    Outcome outcome;
    const char* detail; // the start of the step's detail
};

void PrintTo(const ValueTypeCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string DwordOfA(const ServerLayout&)
{
    return std::string("A\0\0\0", 4);
}

const ValueTypeCase kValueTypes[] = {
    {"DwordAppPath", "AppPath", REG_DWORD, DwordOfA, false, Outcome::kFailed,
     "AppPath is a REG_DWORD value, not a string: the extension takes its bytes for the text of a path\n\"A\" (1 of "},
    {"DwordIniPath", "IniPath", REG_DWORD, DwordOfA, true, Outcome::kWarning,
     "IniPath is a REG_DWORD value, not a string: the extension takes its bytes for the text of a path\n\"A\" (1 of "},
#ifdef _WIN32
    // The path's bytes without a terminating zero: the extension keeps one.
    {"BinaryAppPathSpellingThePath", "AppPath", REG_BINARY, [](const ServerLayout& s) { return s.appDirectory.string(); },
     true, Outcome::kWarning, "AppPath is a REG_BINARY value, not a string: the extension takes its bytes"},
    {"MultiStringAppPath", "AppPath", REG_MULTI_SZ,
     [](const ServerLayout& s) { return s.appDirectory.string() + std::string("\0C:\\Other\0\0", 12); }, true,
     Outcome::kWarning, "AppPath is a REG_MULTI_SZ value: the extension takes its first string alone\n"},
    {"UnexpandedAppPath", "AppPath", REG_EXPAND_SZ,
     [](const ServerLayout&) { return std::string("%SystemRoot%\\Velmora", 21); }, false, Outcome::kFailed,
     "AppPath is a REG_EXPAND_SZ value holding %...%, which the extension does not expand: it takes the value as "
     "written\n\"%SystemRoot%\\Velmora\""},
    {"UnexpandedIniPath", "IniPath", REG_EXPAND_SZ,
     [](const ServerLayout&) { return std::string("%SystemRoot%\\Velmora.ini", 25); }, true, Outcome::kWarning,
     "IniPath is a REG_EXPAND_SZ value holding %...%"},
    {"ExpandStringWithoutNames", "AppPath", REG_EXPAND_SZ,
     [](const ServerLayout& s) { return s.appDirectory.string() + '\0'; }, true, Outcome::kOk, "\""},
#endif
};

class ValueType : public DoctorTest, public testing::WithParamInterface<ValueTypeCase> {
protected:
    void TearDown() override
    {
        TerminateExtension(0);
        DoctorTest::TearDown();
    }
};

TEST_P(ValueType, IsNamedAsTheExtensionTakesIt)
{
    const ValueTypeCase& c = GetParam();
    LayOutSample(server, "");
    SetServerValue(server, c.value, c.type, c.data(server));

    Report report = Diagnose();
    HSE_VERSION_INFO version{};
    bool loaded = GetExtensionVersion(&version) != FALSE;

    SCOPED_TRACE(PlainText(report));
    EXPECT_EQ(loaded, c.loads);
    EXPECT_EQ(report.loads, c.loads);
    const Step* step = report.Find(c.value);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->outcome, c.outcome);
    EXPECT_EQ(step->detail.rfind(c.detail, 0), 0u) << step->detail;
}

INSTANTIATE_TEST_SUITE_P(Doctor, ValueType, testing::ValuesIn(kValueTypes), [](const auto& info) {
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
    EXPECT_NE(json.find("\"accounts\": 7, \"listed\": 0, \"aliases\": 3, \"nonAsciiAccounts\": 0, "
                        "\"nonAsciiAliases\": 0}"),
              std::string::npos);
}

// The operator's typo: IniPath names a file that is not there. The library
// then reads none of its own paths and finds no account, and the report says
// so step by step instead of "ok".
TEST_F(DoctorTest, MistypedIniPathSaysWhatFollows)
{
    LayOutSample(server, "");
    fs::path mistyped = server.root / "Velmora.ini.bak";
    server.WriteRegistry(server.appDirectory, mistyped);
    password = "admin-pass";

    Report report = Diagnose("admin@example.com");

    SCOPED_TRACE(PlainText(report));
    struct Expected {
        const char* step;
        Outcome outcome;
        std::string detail;
    };
    const Expected expected[] = {
        {"IniPath", Outcome::kWarning,
         "the main settings file " + mistyped.string() + " does not exist\n[Advanced] UserDllType reads as empty\n"
         "the user library, which may read its own paths from the same file, reports the settings file as empty and "
         "the alias file as empty"},
        {"UserDllType", Outcome::kWarning, "read as empty, the main settings file " + mistyped.string() +
                                               " does not exist"},
        {"settings-file", Outcome::kWarning, "the user library reports an empty path for it"},
        {"list", Outcome::kFailed, "list answers 500: the user library's VL_FindFirst finds no account"},
        {"alias-file", Outcome::kWarning, "the user library reports an empty path for it: list shows no aliases"},
        {"caller", Outcome::kFailed, "no such account; the user library knows no account at all (see list)"},
    };
    for (const Expected& e : expected) {
        const Step* step = report.Find(e.step);
        ASSERT_NE(step, nullptr) << e.step;
        EXPECT_EQ(step->outcome, e.outcome) << e.step;
        EXPECT_NE(step->detail.find(e.detail), std::string::npos) << e.step;
    }
    EXPECT_EQ(report.Find("GroupNames"), nullptr) << "no file to add GroupNames to";
    EXPECT_EQ(ExitStatus(report), 1);
    EXPECT_NE(PlainText(report).find("\nThe extension would load, but the steps marked FAIL would not work.\n"),
              std::string::npos);
}

// What the doctor says list answers is what the extension answers, in the
// same layout.
struct ListCase {
    const char* name;
    void (*spoil)(ServerLayout&);
    const char* doctorSays;
    DWORD status;
    const char* body; // or null: any
};

void PrintTo(const ListCase& c, std::ostream* os)
{
    *os << c.name;
}

const ListCase kListCases[] = {
    {"NoAccountListed", [](ServerLayout& s) { WriteSettings(s, "Nobody"); }, "it answers 200 with an empty array, []",
     200, "[\r\n]\r\n"},
    {"SettingsFileIsFolder", [](ServerLayout& s) { ReplaceByFolder(s.settings); }, "list answers 500", 500, nullptr},
#ifndef _WIN32
    {"SettingsFileOverLimit", [](ServerLayout& s) { GrowPastLimit(s.settings); }, "list answers 500", 500, nullptr},
#endif
    {"SomeListed", Keep, "list would show 6 of 7 accounts", 200, nullptr},
};

class ListAnswer : public DoctorTest, public testing::WithParamInterface<ListCase> {
protected:
    void TearDown() override
    {
        TerminateExtension(0);
        DoctorTest::TearDown();
    }
};

TEST_P(ListAnswer, IsTheExtensionsAnswer)
{
    const ListCase& c = GetParam();
    LayOutSample(server, "");
    c.spoil(server);

    Report report = Diagnose();
    HSE_VERSION_INFO version{};
    ASSERT_TRUE(GetExtensionVersion(&version));
    FakeHost host;
    host.WithBasic("admin@example.com", "admin-pass").WithForm("cmd=list");
    HostAnswer answer = host.Run();

    const Step* list = report.Find("list");
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list->detail.find(c.doctorSays), std::string::npos) << list->detail;
    EXPECT_EQ(list->outcome == Outcome::kFailed, c.status != 200 || report.listed == 0);
    EXPECT_EQ(answer.statusCode, c.status);
    if (c.body) {
        EXPECT_EQ(answer.Body(), c.body);
    }
}

INSTANTIATE_TEST_SUITE_P(Doctor, ListAnswer, testing::ValuesIn(kListCases), [](const auto& info) {
    return std::string(info.param.name);
});

bool IsUtf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || at + length > text.size())
            return false;
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
                return false;
        at += length;
    }
    return true;
}

// Group names and addresses come in the server's code page (Windows-1252
// here: 0xE9 is "é"); the JSON carries them as UTF-8, and counts the
// addresses that list would send with such bytes.
TEST_F(DoctorTest, JsonIsUtf8AndCountsAddressesBeyondAscii)
{
    LayOutSample(server, "");
    server.WriteAccounts("admin@example.com | Admin | admin-pass | 0 | 0 | 4 |\n"
                         "jos\\xE9@example.com | Jos\\xE9 | jose-pass | 0 | 0 | | Ventes-\\xE9\n"
                         "ann@example.com | Ann | ann-pass | 0 | 0 | | Ventes-\\xE9\n");
    std::ofstream(server.aliases, std::ios::binary | std::ios::trunc)
        << "h\xE9lo@example.com = jos\xE9@example.com\r\nannie@example.com = ann@example.com\r\n";
    WriteSettings(server, "Ventes-\xE9");

    Report report = Diagnose();
    std::string json = Json(report);

    SCOPED_TRACE(json);
    EXPECT_TRUE(IsUtf8(json));
    EXPECT_NE(json.find("{\"step\": \"group:Ventes-\xC3\xA9\", \"ok\": true, \"detail\": \"\\\"Ventes-\xC3\xA9\\\": 2 "
                        "accounts\"}"),
              std::string::npos);
    EXPECT_NE(json.find("\"listed\": 2, \"aliases\": 2, \"nonAsciiAccounts\": 1, \"nonAsciiAliases\": 1}"),
              std::string::npos);
    const Step* addresses = report.Find("addresses");
    ASSERT_NE(addresses, nullptr);
    EXPECT_EQ(addresses->outcome, Outcome::kWarning);
    EXPECT_NE(addresses->detail.find("list would send 1 account addresses and 1 aliases holding bytes above 0x7F, "
                                     "for example \"jos\xE9@example.com\""),
              std::string::npos);
}

// A byte that begins no character of the server's code page, as in a code
// page of two-byte characters, is written as \xhh, and the JSON stays UTF-8.
TEST(DoctorJson, EscapesBytesTheCodePageLacks)
{
    gOs.MultiByteToWideChar = [](UINT page, DWORD flags, LPCCH source, int length, LPWSTR target, int size) -> int {
        if (memchr(source, 0x81, static_cast<size_t>(length))) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        return SystemOsCalls().MultiByteToWideChar(page, flags, source, length, target, size);
    };
    Report report;
    report.Add("alias-file", Outcome::kWarning, "a\x81" "b\xE9\"");
    std::string json = Json(report);
    gOs = SystemOsCalls();

    EXPECT_NE(json.find("\"detail\": \"a\\\\x81b\xC3\xA9\\\"\""), std::string::npos) << json;
    EXPECT_TRUE(IsUtf8(json));
}

#ifndef _WIN32
// An empty VELMORA_REGISTRY_FILE names no registry file: the extension finds
// no key there, and the doctor says so of the same file, rather than of
// /etc/velmora/registry.reg.
TEST_F(DoctorTest, EmptyRegistryVariableNamesNoFile)
{
    LayOutSample(server, "");
    setenv("VELMORA_REGISTRY_FILE", "", 1);

    Report report = Diagnose();
    HSE_VERSION_INFO version{};
    BOOL loaded = GetExtensionVersion(&version);

    EXPECT_FALSE(loaded);
    EXPECT_FALSE(report.loads);
    const Step* registry = report.Find("registry");
    ASSERT_NE(registry, nullptr);
    EXPECT_EQ(registry->outcome, Outcome::kFailed);
    EXPECT_EQ(registry->detail, std::string(kNoServerKey) +
                                    "\nno registry file (VELMORA_REGISTRY_FILE is set but empty, which names no file)");
}

// Runs the diagnosis as an account that permissions stop: in a child
// process given to nobody when the tests run as root. Returns the detail of
// one step.
std::string DetailAsOtherAccount(const std::function<std::string()>& detail)
{
    if (geteuid() != 0)
        return detail();
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        return "no account nobody";
    int ends[2];
    if (pipe(ends) != 0)
        return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(2);
        std::string text = detail();
        _exit(write(ends[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 3);
    }
    close(ends[1]);
    std::string text;
    char block[4096];
    for (ssize_t count; (count = read(ends[0], block, sizeof block)) > 0;)
        text.append(block, static_cast<size_t>(count));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "the child failed";
}

// Access denied and a missing file no longer look alike: the system says
// which.
TEST_F(DoctorTest, UnreadableAliasFileGivesTheSystemsReason)
{
    LayOutSample(server, "");
    fs::permissions(server.aliases, fs::perms::none);

    std::string detail = DetailAsOtherAccount([&] {
        Report report = Diagnose();
        const Step* step = report.Find("alias-file");
        return step ? step->detail : std::string();
    });

    EXPECT_NE(detail.find("cannot be read: list shows no aliases\nthe system says: Permission denied"),
              std::string::npos)
        << detail;
}

// The account's rights along the whole path: a folder it cannot enter bars
// every file below it, whatever the files' own permissions say.
TEST_F(DoctorTest, AccountCheckFollowsThePath)
{
    LayOutSample(server, "");
    fs::permissions(server.root, fs::perms::owner_all);
    DoctorOptions options;
    options.account = "nobody";

    Report report = ::Diagnose(options, CheckPasswords{});
    fs::permissions(server.root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);

    for (const char* name : {"access:program-folder", "access:alias-file", "access:settings-file-read",
                             "access:settings-file-write"}) {
        const Step* step = report.Find(name);
        ASSERT_NE(step, nullptr) << name;
        EXPECT_EQ(step->outcome, Outcome::kFailed) << name;
        EXPECT_NE(step->detail.find("may NOT"), std::string::npos) << name;
        EXPECT_NE(step->detail.find("no search (x) permission on " + server.root.string() + " (mode 0700"),
                  std::string::npos)
            << step->detail;
    }
}

// The settings writer replaces the file through a temporary file in its
// folder: the folder must let the account write, whatever the file allows.
struct SettingsWriteCase {
    const char* name;
    fs::perms folder;
    fs::perms file;
    Access access;
    const char* note;
};

void PrintTo(const SettingsWriteCase& c, std::ostream* os)
{
    *os << c.name;
}

constexpr fs::perms kOpen = fs::perms::all;
constexpr fs::perms kShut = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;

const SettingsWriteCase kSettingsWrites[] = {
    {"FileWritableFolderNot", kShut, kOpen, Access::kDenied, "no write and search (wx) permission on "},
    {"FolderWritable", kOpen, fs::perms::owner_read | fs::perms::others_read, Access::kAllowed,
     "where the settings writer creates a temporary file and renames it over the file"},
    {"FolderWritableFileUnreadable", kOpen, fs::perms::owner_read, Access::kDenied, "no read permission on "},
    {"StickyFolder", kOpen | fs::perms::sticky_bit, kOpen, Access::kDenied,
     "lets only a file's owner replace it, and the account owns neither it nor"},
};

class SettingsWrite : public testing::TestWithParam<SettingsWriteCase> {};

TEST_P(SettingsWrite, NeedsTheFolder)
{
    const SettingsWriteCase& c = GetParam();
    TempDirectory temp;
    fs::path folder = fs::path(temp.File("settings"));
    fs::create_directory(folder);
    fs::path file = folder / "Settings.ini";
    std::ofstream(file) << "[TessalineIntegration]\n";
    fs::permissions(file, c.file);
    fs::permissions(folder, c.folder);

    AccessAnswer answer = AccountMay("nobody", file.string(), AccessKind::kSettingsWrite);

    EXPECT_EQ(answer.access, c.access) << answer.note;
    EXPECT_NE(answer.note.find(c.note), std::string::npos) << answer.note;
}

INSTANTIATE_TEST_SUITE_P(Doctor, SettingsWrite, testing::ValuesIn(kSettingsWrites), [](const auto& info) {
    return std::string(info.param.name);
});
#endif

} // namespace
