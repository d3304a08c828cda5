// The host-facing frame: transport and method checks, the exact bytes of
// every answer, the version record, and containment of failures.
#include "extension/request_context.h"
#include "platform/os_calls.h"
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

#include <cstring>

EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version);
EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD flags);

namespace {

TEST(ResponseWriter, PlainHttpAnswerIsExactlyTheWorkedExample)
{
    FakeHost host;
    host.variables.erase("HTTPS");
    HostAnswer answer = host.Run();

    EXPECT_EQ(answer.status, "403 Forbidden");
    EXPECT_EQ(answer.cchStatus, 13u);
    EXPECT_EQ(answer.statusCode, 403u);
    EXPECT_EQ(answer.headers, "Content-Type: text/html\r\nContent-Length: 98\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.cchHeader, 66u);
    EXPECT_EQ(answer.keepConnection, FALSE);
    ASSERT_EQ(answer.writes.size(), 1u);
    EXPECT_EQ(answer.writes[0], "<html>\r\n<head><title>403 Forbidden</title></head>\r\n"
                                "<body><h1>HTTPS required</h1></body>\r\n</html>\r\n");
    EXPECT_EQ(answer.writes[0].size(), 98u);
    EXPECT_EQ(answer.writeFlags[0], static_cast<DWORD>(HSE_IO_SYNC));
}

struct TransportCase {
    const char* name;
    const char* https; // nullptr: the variable is missing
    const char* method;
    const char* status;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const TransportCase& c, std::ostream* os)
{
    *os << c.name;
}

class Transport : public testing::TestWithParam<TransportCase> {};

TEST_P(Transport, AnswersByHttpsThenMethod)
{
    FakeUserLibrary library;
    const TransportCase& c = GetParam();
    FakeHost host;
    host.method = c.method;
    if (c.https)
        host.variables["HTTPS"] = c.https;
    else
        host.variables.erase("HTTPS");
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.headerCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Transport,
    testing::Values(TransportCase{"OffGet", "off", "GET", "403 Forbidden"},
                    TransportCase{"OffPost", "off", "POST", "403 Forbidden"},
                    TransportCase{"Missing", nullptr, "POST", "403 Forbidden"},
                    TransportCase{"Empty", "", "POST", "403 Forbidden"},
                    TransportCase{"OnWithSpace", "on ", "POST", "403 Forbidden"},
                    // 16 bytes with the terminator do not fit the probe buffer.
                    TransportCase{"TooLong", "onnnnnnnnnnnnnnn", "POST", "403 Forbidden"},
                    TransportCase{"LowerOnGet", "on", "GET", "405 Method Not Allowed"},
                    TransportCase{"MixedOnGet", "oN", "GET", "405 Method Not Allowed"},
                    TransportCase{"UpperOnGet", "ON", "GET", "405 Method Not Allowed"},
                    TransportCase{"Put", "On", "PUT", "405 Method Not Allowed"},
                    TransportCase{"PostWithSpace", "On", "POST ", "405 Method Not Allowed"},
                    TransportCase{"Posts", "On", "POSTS", "405 Method Not Allowed"},
                    TransportCase{"Empty method", "On", "", "405 Method Not Allowed"},
                    // Past the method check, the missing credentials answer.
                    TransportCase{"LowerPost", "On", "post", "401 Unauthorized"},
                    TransportCase{"MixedPost", "on", "pOsT", "401 Unauthorized"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return name;
    });

TEST(ResponseWriter, MethodNotAllowedCarriesAllowFirst)
{
    FakeHost host;
    host.method = "GET";
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.statusCode, 405u);
    EXPECT_EQ(answer.headers, "Allow: POST\r\nContent-Type: text/html\r\nContent-Length: 113\r\n"
                              "Connection: close\r\n\r\n");
    EXPECT_EQ(answer.Body().size(), 113u);
    EXPECT_EQ(answer.keepConnection, FALSE);
}

TEST(ResponseWriter, UnauthorizedCarriesTheChallengeFirst)
{
    FakeUserLibrary library;
    FakeHost host;
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.statusCode, 401u);
    EXPECT_EQ(answer.headers, "WWW-Authenticate: Basic realm=\"TessalineIntegration\"\r\n"
                              "Content-Type: text/html\r\nContent-Length: 110\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.Body(), "<html>\r\n<head><title>401 Unauthorized</title></head>\r\n"
                             "<body><h1>Authentication required</h1></body>\r\n</html>\r\n");
}

TEST(ResponseWriter, HeadGetsTheSameHeadersAndNoBody)
{
    FakeHost host;
    host.method = "head";
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.status, "405 Method Not Allowed");
    EXPECT_NE(answer.headers.find("Content-Length: 113\r\n"), std::string::npos);
    EXPECT_TRUE(answer.writes.empty());
}

TEST(ResponseWriter, BodyTooLongForOneWriteIsAnInternalError)
{
    // WriteClient counts in 32 bits; the writer refuses before it reads a byte.
    FakeHost host;
    HostAnswer answer = host.RunWith([](EXTENSION_CONTROL_BLOCK* ecb) -> DWORD {
        static const char byte = 'x';
        RequestContext(ecb).SendResponse("200 OK", "text/json; charset=UTF-8",
                                         std::string_view(&byte, size_t{1} << 32));
        return HSE_STATUS_SUCCESS;
    });
    EXPECT_EQ(answer.headerCalls, 1);
    EXPECT_EQ(answer.status, "500 Internal Server Error");
    EXPECT_EQ(answer.Body().size(), 117u);
}

TEST(ExtensionFrame, EmptyBindingTableIsAnsweredWithInternalError)
{
    // No library bound: a request that would need it is refused, not crashed.
    FakeHost host;
    host.WithBasic("ann@example.com", "secret").WithForm("cmd=list");
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.status, "500 Internal Server Error");
    EXPECT_EQ(answer.Body(), "<html>\r\n<head><title>500 Internal Server Error</title></head>\r\n"
                             "<body><h1>Internal server error</h1></body>\r\n</html>\r\n");
    EXPECT_EQ(answer.Body().size(), 117u);
}

// The use column of the entry-point list against what each stage calls: a
// stage without an entry point it needs answers 500, and one that does not
// need it answers as if nothing were missing, never calling the empty slot.
TEST(ExtensionFrame, EachStageAnswers500WithoutAnEntryPointItNeeds)
{
    TempDirectory directory;
    BindingTable names{};
    ForEachEntryPoint(names, [&](auto&, const char* name, unsigned neededFor) {
        FakeUserLibrary library;
        library.Add({.address = "ann@example.com", .password = "secret"});
        library.aliasPath = directory.Write("alias.txt", "");
        library.settingsPath = directory.Write("settings.ini", "");
        ForEachEntryPoint(gUserLibrary, [&](auto& slot, const char* each, unsigned) {
            if (strcmp(each, name) == 0)
                slot = nullptr;
        });
        auto status = [](const char* form) {
            FakeHost host;
            host.WithBasic("ann@example.com", "secret").WithForm(form);
            return host.Run().status;
        };
        auto expected = [&](unsigned stage) {
            return (neededFor & (kNeededForCallerCheck | stage)) != 0 ? "500 Internal Server Error" : "200 OK";
        };
        EXPECT_EQ(status("cmd=list"), expected(kNeededForList)) << name;
        EXPECT_EQ(status("cmd=auth&user=ann%40example.com&pass=secret"), expected(kNeededForAuth)) << name;
    });
}

TEST(ExtensionFrame, AllocationFailureIsAnsweredOnceAndReturnsSuccess)
{
    FakeUserLibrary library;
    library.Add({.address = "ann@example.com", .password = "secret"});
    // The library throws the way a failed allocation inside the extension does.
    gUserLibrary.VL_ValidateUser = [](UserHandle, const char*) -> uint8_t { throw std::bad_alloc(); };

    FakeHost host;
    host.WithBasic("ann@example.com", "secret").WithForm("cmd=list");
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.headerCalls, 1);
    EXPECT_EQ(answer.status, "500 Internal Server Error");
}

// A host whose callbacks fail, as they do once the client has gone: the
// extension answers once, tries nothing twice and gives every handle back.
TEST(ExtensionFrame, FailingHostCallbacksAreAnsweredOnceAndNeverRetried)
{
    FakeUserLibrary library;
    library.Add({.address = "ann@example.com", .password = "secret"});
    TempDirectory directory;
    library.aliasPath = directory.Write("alias.txt", "");
    library.settingsPath = directory.Write("settings.ini", "");

    const struct {
        const char* name;
        bool FakeHost::*fails;
        const char* status;
        size_t writes;
    } cases[] = {
        // The HTTPS variable cannot be read: the request is taken for plain HTTP.
        {"GetServerVariable", &FakeHost::variablesFail, "403 Forbidden", 1},
        {"header", &FakeHost::headerFails, "200 OK", 1},
        {"WriteClient", &FakeHost::writeFails, "200 OK", 1},
    };
    for (const auto& c : cases) {
        FakeHost host;
        host.WithBasic("ann@example.com", "secret").WithForm("cmd=list");
        host.*c.fails = true;
        HostAnswer answer = host.Run();
        EXPECT_EQ(answer.headerCalls, 1) << c.name;
        EXPECT_EQ(answer.status, c.status) << c.name;
        EXPECT_EQ(answer.writes.size(), c.writes) << c.name;
        EXPECT_EQ(library.openHandles, 0) << c.name;
        EXPECT_EQ(library.openSearches, 0) << c.name;
    }
}

// A listing larger than one piece goes out in several writes under one
// Content-Length. When the second write fails the client is gone: nothing
// more is written, no second answer follows, and the request ends.
TEST(ExtensionFrame, AFailedWriteOfAListingInPiecesIsItsLast)
{
    FakeUserLibrary library;
    library.Add({.address = "ann@example.com", .password = "secret"});
    for (int i = 0; i < 3000; ++i)
        library.Add({.address = "account" + std::to_string(i) + "@example.com", .fullName = "Account Holder"});
    TempDirectory directory;
    library.aliasPath = directory.Write("alias.txt", "");
    library.settingsPath = directory.Write("settings.ini", "");
    FakeHost host;
    host.WithBasic("ann@example.com", "secret").WithForm("cmd=list");
    const HostAnswer whole = host.Run();
    ASSERT_GE(whole.writes.size(), 3u);

    host.firstFailingWrite = 2;
    HostAnswer cut = host.Run();
    EXPECT_EQ(cut.returned, static_cast<DWORD>(HSE_STATUS_SUCCESS));
    EXPECT_EQ(cut.headerCalls, 1);
    EXPECT_EQ(cut.status, "200 OK");
    EXPECT_EQ(cut.headers, whole.headers);
    ASSERT_EQ(cut.writes.size(), 2u);
    EXPECT_EQ(cut.writes[0], whole.writes[0]);
    EXPECT_EQ(library.openHandles, 0);
    EXPECT_EQ(library.openSearches, 0);
}

TEST(ExtensionFrame, VersionRecordIsFilledEvenWhenLoadingFails)
{
    HSE_VERSION_INFO version;
    memset(&version, 0x5A, sizeof version);
    // No mail server is found, whatever tests running beside this one have
    // put in the machine's registry: loading fails.
    gOs.RegOpenKeyExA = [](HKEY, LPCSTR, DWORD, REGSAM, PHKEY) -> LONG { return ERROR_FILE_NOT_FOUND; };
    EXPECT_EQ(GetExtensionVersion(&version), FALSE);
    gOs = SystemOsCalls();
    EXPECT_EQ(version.dwExtensionVersion, 0x70005u);
    EXPECT_STREQ(version.lpszExtensionDesc, "Velmora Tessaline Integration DLL");
}

TEST(ExtensionFrame, TerminateAlwaysAgreesAndLeavesNothingToCall)
{
    FakeUserLibrary library;
    for (DWORD flags : {0u, 1u, 2u, 0xFFFFFFFFu})
        EXPECT_EQ(TerminateExtension(flags), TRUE);
    EXPECT_EQ(gUserLibrary.VL_GetIsFrozen, nullptr);
    EXPECT_EQ(gUserLibrary.VL_GetByEmail, nullptr);
}

} // namespace
