// The auth command: yes or no for an address and a UTF-8 password, the
// library asked only as far as each refusal allows.
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"

#include <gtest/gtest.h>

namespace {

constexpr char kTrue[] = "{\"succeeded\": true}\r\n";
constexpr char kFalse[] = "{\"succeeded\": false}\r\n";

// The calls that caller authentication makes before the command runs.
constexpr size_t kCallerCalls = 5;

struct AuthCase {
    const char* name;
    std::string form;
    const char* body;
    std::vector<std::string> calls; // after caller authentication
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const AuthCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::vector<std::string> kFull = {"VL_GetByEmail", "VL_GetIsDisabled", "VL_GetIsFrozen", "VL_ValidateUser",
                                        "VL_GetFree"};
const std::vector<std::string> kNotValidated = {"VL_GetByEmail", "VL_GetIsDisabled", "VL_GetIsFrozen",
                                                "VL_GetFree"};

class AuthCommand : public testing::TestWithParam<AuthCase> {
protected:
    AuthCommand()
    {
        library.Add({.address = "caller@example.com", .password = "caller"});
        library.Add({.address = "ann@example.com", .password = "secret", .webConfig4 = false});
        library.Add({.address = "dis@example.com", .password = "secret", .disabled = true});
        library.Add({.address = "fro@example.com", .password = "secret", .frozen = true});
        library.Add({.address = "jose@example.com", .password = "Jos\xE9"});
        library.Add({.address = "@", .password = "x"});
        library.Add({.address = "euro@example.com", .password = "\x80"});
    }

    FakeUserLibrary library;
};

TEST_P(AuthCommand, AnswersYesOrNo)
{
    const AuthCase& c = GetParam();
    FakeHost host;
    host.WithBasic("caller@example.com", "caller").WithForm(c.form);
    HostAnswer answer = host.Run();

    EXPECT_EQ(answer.status, "200 OK");
    EXPECT_EQ(answer.headers, std::string("Content-Type: text/json; charset=UTF-8\r\nContent-Length: ") +
                                  (c.body == kTrue ? "21" : "22") + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.Body(), c.body);
    std::vector<std::string> calls = library.CallNames();
    ASSERT_GE(calls.size(), kCallerCalls);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + kCallerCalls, calls.end()), c.calls);
    EXPECT_EQ(library.openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AuthCommand,
    testing::Values(
        AuthCase{"Accepted", "cmd=auth&user=ann%40example.com&pass=secret", kTrue, kFull},
        AuthCase{"NamesInAnyCase", "cmd=auth&USER=ann%40example.com&Pass=secret", kTrue, kFull},
        AuthCase{"WrongPassword", "cmd=auth&user=ann@example.com&pass=Secret", kFalse, kFull},
        AuthCase{"LastUserAndPassWin", "cmd=auth&user=x&pass=y&user=ann@example.com&pass=secret", kTrue, kFull},
        AuthCase{"NoUser", "cmd=auth&pass=secret", kFalse, {}},
        AuthCase{"NoPass", "cmd=auth&user=ann@example.com", kFalse, {}},
        AuthCase{"EmptyPass", "cmd=auth&user=ann@example.com&pass=", kFalse, {}},
        AuthCase{"NoAt", "cmd=auth&user=annexample.com&pass=secret", kFalse, {}},
        AuthCase{"EmptyUser", "cmd=auth&user=&pass=secret", kFalse, {}},
        AuthCase{"NameOnlyBeginsWithUser", "cmd=auth&username=ann@example.com&pass=secret", kFalse, {}},
        AuthCase{"OnlyAt", "cmd=auth&user=%40&pass=x", kTrue, kFull},
        AuthCase{"UnknownAddress", "cmd=auth&user=zed@example.com&pass=secret", kFalse, {"VL_GetByEmail"}},
        AuthCase{"Disabled", "cmd=auth&user=dis@example.com&pass=secret", kFalse,
                 {"VL_GetByEmail", "VL_GetIsDisabled", "VL_GetFree"}},
        AuthCase{"Frozen", "cmd=auth&user=fro@example.com&pass=secret", kFalse, kNotValidated},
        // UTF-8 é reaches the library as the one ANSI byte 0xE9.
        AuthCase{"Utf8ToAnsi", "cmd=auth&user=jose@example.com&pass=Jos%C3%A9", kTrue, kFull},
        AuthCase{"EuroSign", "cmd=auth&user=euro@example.com&pass=%E2%82%AC", kTrue, kFull},
        // The raw ANSI byte is not UTF-8.
        AuthCase{"AnsiByteIsInvalidUtf8", "cmd=auth&user=jose@example.com&pass=Jos%E9", kFalse, kNotValidated},
        AuthCase{"TruncatedSequence", "cmd=auth&user=ann@example.com&pass=%C3", kFalse, kNotValidated},
        AuthCase{"LoneContinuation", "cmd=auth&user=ann@example.com&pass=a%80b", kFalse, kNotValidated},
        AuthCase{"Overlong", "cmd=auth&user=ann@example.com&pass=%C0%AF", kFalse, kNotValidated},
        AuthCase{"EncodedSurrogate", "cmd=auth&user=ann@example.com&pass=%ED%A0%80", kFalse, kNotValidated},
        // Neither best fit (Ā to A) nor a default character.
        AuthCase{"OutsideAnsi", "cmd=auth&user=ann@example.com&pass=%C4%80", kFalse, kNotValidated},
        AuthCase{"NotEqualSign", "cmd=auth&user=ann@example.com&pass=%E2%89%A0", kFalse, kNotValidated},
        AuthCase{"Emoji", "cmd=auth&user=ann@example.com&pass=%F0%9F%98%80", kFalse, kNotValidated}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AuthCommandPassword, ReachesTheLibraryAsAnsiBytes)
{
    FakeUserLibrary library;
    library.Add({.address = "caller@example.com", .password = "caller"});
    library.Add({.address = "jose@example.com", .password = "Jos\xE9"});
    FakeHost host;
    host.WithBasic("caller@example.com", "caller").WithForm("cmd=auth&user=jose@example.com&pass=Jos%C3%A9");
    host.Run();
    EXPECT_EQ(library.validatedPasswords, (std::vector<std::string>{"caller", "Jos\xE9"}));
}

} // namespace
