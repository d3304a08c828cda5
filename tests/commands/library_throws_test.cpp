// Whatever throws in the middle of a request, the user library's own call
// or an allocation between two calls, the request is answered once with the
// internal-error page and every account handle and search goes back.
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

#include <new>

namespace {

[[noreturn]] void Throw()
{
    throw std::bad_alloc();
}

struct ThrowCase {
    const char* name;
    const char* form;
    void (*inject)();
};

void PrintTo(const ThrowCase& c, std::ostream* os)
{
    *os << c.name;
}

class LibraryThrows : public testing::TestWithParam<ThrowCase> {
protected:
    LibraryThrows()
    {
        library.aliasPath = directory.Write("alias.txt", "info@example.com = ann@example.com\n");
        library.settingsPath = directory.Write("settings.ini", "[TessalineIntegration]\r\nGroupNames=Sales\r\n");
        library.Add({.address = "Velmora@example.com", .password = "caller"});
        library.Add({.address = "ann@example.com", .password = "secret", .groups = {"Sales"}});
    }

    TempDirectory directory;
    FakeUserLibrary library;
};

TEST_P(LibraryThrows, AnswersOnceAndGivesEverythingBack)
{
    const ThrowCase& c = GetParam();
    c.inject();
    FakeHost host;
    host.WithBasic("Velmora@example.com", "caller").WithForm(c.form);
    HostAnswer answer = host.Run();

    EXPECT_EQ(answer.headerCalls, 1);
    EXPECT_EQ(answer.status, "500 Internal Server Error");
    EXPECT_EQ(answer.Body(), "<html>\r\n<head><title>500 Internal Server Error</title></head>\r\n"
                             "<body><h1>Internal server error</h1></body>\r\n</html>\r\n");
    EXPECT_EQ(library.openHandles, 0);
    EXPECT_EQ(library.openSearches, 0);
}

constexpr char kList[] = "cmd=list";
constexpr char kAuth[] = "cmd=auth&user=ann@example.com&pass=secret";

INSTANTIATE_TEST_SUITE_P(
    Cases, LibraryThrows,
    testing::Values(
        // The caller's handle is held while these are asked.
        ThrowCase{"CallerGetIsDisabled", kList,
                  [] { gUserLibrary.VL_GetIsDisabled = [](UserHandle) -> uint8_t { Throw(); }; }},
        ThrowCase{"CallerGetWebConfigBit", kList,
                  [] { gUserLibrary.VL_GetWebConfigBit = [](UserHandle, int32_t) -> uint8_t { Throw(); }; }},
        ThrowCase{"CallerValidateUser", kList,
                  [] { gUserLibrary.VL_ValidateUser = [](UserHandle, const char*) -> uint8_t { Throw(); }; }},
        // The search is open while these are asked.
        ThrowCase{"ListGetEmail", kList, [] { gUserLibrary.VL_GetEmail = [](UserHandle, char*) { Throw(); }; }},
        ThrowCase{"ListGroupFindMember", kList,
                  [] { gUserLibrary.VL_GroupFindMember = [](const char*, const char*) -> uint8_t { Throw(); }; }},
        ThrowCase{"ListGetFullName", kList,
                  [] { gUserLibrary.VL_GetFullName = [](UserHandle, char*) { Throw(); }; }},
        ThrowCase{"ListFindNext", kList,
                  [] { gUserLibrary.VL_FindNext = [](int64_t, UserHandle*) -> uint8_t { Throw(); }; }},
        // The account's handle is held while these are asked; the caller's
        // own checks come first and pass.
        ThrowCase{"AuthGetIsFrozen", kAuth,
                  [] { gUserLibrary.VL_GetIsFrozen = [](UserHandle) -> uint8_t { Throw(); }; }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
