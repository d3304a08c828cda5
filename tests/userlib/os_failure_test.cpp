// Operating-system calls failing along loading and along a list request,
// each injected through the extension's table of system calls: every one
// gives a clear refusal or answer, never a crash, and never costs the mail
// server its settings file.
#include "platform/os_calls.h"
#include "tests/fake_host.h"
#include "tests/userlib/server_layout.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

constexpr char kCaller[] = "caller@example.com | Caller | caller | 0 | 0 | 4 |\n"
                           "ann@example.com | Ann | ann-pass | 0 | 0 | |\n";
const std::string kAliases = "info@example.com = ann@example.com\r\nsales@example.com = ann@example.com\r\n"
                             "desk@example.com = caller@example.com\r\n";
const std::string kSettings = "[Server]\r\nName=mail\r\n";

std::string FileBytes(const fs::path& file)
{
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

HostAnswer List()
{
    FakeHost host;
    host.WithBasic("caller@example.com", "caller").WithForm("cmd=list");
    return host.Run();
}

// What the alias file may still deliver before its read fails.
size_t gAliasBytesLeft = 0;

class OsFailure : public ExtensionLoadTest {
protected:
    void SetUp() override
    {
        ExtensionLoadTest::SetUp();
        library = LayOut(kCaller);
        std::ofstream(server.aliases, std::ios::binary) << kAliases;
        std::ofstream(server.settings, std::ios::binary) << kSettings;
    }
    void TearDown() override
    {
        gOs = SystemOsCalls();
        ExtensionLoadTest::TearDown();
    }

    // The listing when the alias file holds exactly this text.
    std::string ListingWithAliases(const std::string& text)
    {
        std::ofstream(server.aliases, std::ios::binary | std::ios::trunc) << text;
        std::string body = List().Body();
        std::ofstream(server.aliases, std::ios::binary | std::ios::trunc) << kAliases;
        return body;
    }

    fs::path library;
};

struct LoadCase {
    const char* name;
    void (*inject)();
    BOOL loads;
};

void PrintTo(const LoadCase& c, std::ostream* os)
{
    *os << c.name;
}

class LoadingOsFailure : public OsFailure, public testing::WithParamInterface<LoadCase> {};

TEST_P(LoadingOsFailure, RefusesOrLoadsAndKeepsTheSettingsFile)
{
    const LoadCase& c = GetParam();
    c.inject();
    EXPECT_EQ(Load(), c.loads);
    EXPECT_EQ(IsLoaded(library), c.loads == TRUE);
    EXPECT_EQ(FileBytes(server.settings), kSettings);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadingOsFailure,
    testing::Values(
        LoadCase{"RegistryKeyDenied",
                 [] { gOs.RegOpenKeyExA = [](HKEY, LPCSTR, DWORD, REGSAM, PHKEY) -> LONG { return 5; }; }, FALSE},
        LoadCase{"RegistryValueUnreadable",
                 [] {
                     gOs.RegQueryValueExA = [](HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) -> LONG { return 5; };
                 },
                 FALSE},
        LoadCase{"LibraryNotLoadable",
                 [] {
                     gOs.LoadLibraryExA = [](LPCSTR, HANDLE, DWORD) -> HMODULE {
                         SetLastError(5);
                         return nullptr;
                     };
                 },
                 FALSE},
        LoadCase{"NoEntryPointFound",
                 [] { gOs.GetProcAddress = [](HMODULE, LPCSTR) -> FARPROC { return nullptr; }; }, FALSE},
        // The mail server holds every profile file open without sharing.
        LoadCase{"ProfileFilesHeld",
                 [] {
                     gOs.GetPrivateProfileStringA = [](LPCSTR, LPCSTR, LPCSTR fallback, LPSTR value, DWORD size,
                                                       LPCSTR) -> DWORD {
                         snprintf(value, size, "%s", fallback);
                         SetLastError(32);
                         return static_cast<DWORD>(strlen(value));
                     };
                 },
                 TRUE},
        LoadCase{"SettingsWriteFails",
                 [] {
                     gOs.WritePrivateProfileStringA = [](LPCSTR, LPCSTR, LPCSTR, LPCSTR) -> BOOL {
                         SetLastError(112);
                         return FALSE;
                     };
                 },
                 TRUE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OsFailure, ListWhileTheSettingsFileIsHeldAnswersInternalError)
{
    ASSERT_EQ(Load(), TRUE);
    gOs.GetPrivateProfileStringA = [](LPCSTR, LPCSTR, LPCSTR fallback, LPSTR value, DWORD size, LPCSTR) -> DWORD {
        snprintf(value, size, "%s", fallback);
        SetLastError(32);
        return static_cast<DWORD>(strlen(value));
    };
    HostAnswer answer = List();
    EXPECT_EQ(answer.status, "500 Internal Server Error");
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);
}

// An alias file that cannot be opened gives no aliases; one whose read fails
// part way gives the aliases of what was read before the failure.
TEST_F(OsFailure, ListKeepsWhatTheAliasFileGaveBeforeFailing)
{
    ASSERT_EQ(Load(), TRUE);
    const std::string whole = List().Body(), none = ListingWithAliases("");
    const size_t cut = kAliases.find("sales") + 3;
    const std::string part = ListingWithAliases(kAliases.substr(0, cut));
    ASSERT_NE(whole, none);
    ASSERT_NE(part, none);

    gOs.OpenSharedForReading = [](const char*, uint64_t) -> FILE* { return nullptr; };
    HostAnswer unopened = List();
    EXPECT_EQ(unopened.status, "200 OK");
    EXPECT_EQ(unopened.Body(), none);

    gOs = SystemOsCalls();
    gAliasBytesLeft = cut;
    gOs.fread = [](void* buffer, size_t size, size_t count, FILE* file) -> size_t {
        size_t wanted = std::min(size * count, gAliasBytesLeft) / size;
        size_t got = fread(buffer, size, wanted, file);
        gAliasBytesLeft -= got * size;
        return got;
    };
    HostAnswer cutShort = List();
    EXPECT_EQ(cutShort.status, "200 OK");
    EXPECT_EQ(cutShort.Body(), part);
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);
}

} // namespace
