// Caller authentication through the fake host: every refusal, the order in
// which the user library is asked, and every handle given back.
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

constexpr char kNeeded[] = "Authentication required";
constexpr char kRefused[] = "Invalid username or password";
// Passed authentication: the form stage answers next.
constexpr char kAdmitted[] = "Invalid command";

struct AuthCase {
    const char* name;
    std::optional<std::string> authorization;
    const char* message;
    std::vector<std::string> calls;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const AuthCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::vector<std::string> kAllFour = {"VL_GetByEmail", "VL_GetIsDisabled", "VL_GetWebConfigBit",
                                           "VL_ValidateUser", "VL_GetFree"};

std::string Basic(const std::string& credentials)
{
    return "Basic " + EncodeBase64(credentials);
}

class CallerAuthentication : public testing::TestWithParam<AuthCase> {
protected:
    CallerAuthentication()
    {
        library.Add({.address = "ann@example.com", .password = "secret"});
        library.Add({.address = "dis@example.com", .password = "secret", .disabled = true});
        library.Add({.address = "nop@example.com", .password = "secret", .webConfig4 = false});
        library.Add({.address = "col@example.com", .password = "pa:ss:wd"});
        library.Add({.address = "", .password = "empty"});
    }

    FakeUserLibrary library;
};

TEST_P(CallerAuthentication, AnswersAndGivesBackEveryHandle)
{
    const AuthCase& c = GetParam();
    FakeHost host;
    host.WithForm("cmd=none");
    if (c.authorization)
        host.variables["HTTP_AUTHORIZATION"] = *c.authorization;
    HostAnswer answer = host.Run();

    EXPECT_NE(answer.Body().find(c.message), std::string::npos) << answer.Body();
    EXPECT_EQ(library.CallNames(), c.calls);
    EXPECT_EQ(library.openHandles, 0);
    if (c.message != kAdmitted) {
        EXPECT_EQ(answer.status, "401 Unauthorized");
        EXPECT_EQ(answer.headers.rfind("WWW-Authenticate: Basic realm=\"TessalineIntegration\"\r\n", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CallerAuthentication,
    testing::Values(
        AuthCase{"Missing", std::nullopt, kNeeded, {}},
        AuthCase{"OtherScheme", "Bearer " + EncodeBase64("ann@example.com:secret"), kNeeded, {}},
        AuthCase{"NoSpace", "Basic" + EncodeBase64("ann@example.com:secret"), kNeeded, {}},
        // The second space ends the decoding at once: empty credentials.
        AuthCase{"TwoSpaces", "Basic  " + EncodeBase64("ann@example.com:secret"), kNeeded, {}},
        AuthCase{"NoColon", Basic("ann@example.com"), kNeeded, {}},
        // A zero byte ends the decoded text before the colon.
        AuthCase{"ZeroBeforeColon", Basic(std::string("ann\0:secret", 11)), kNeeded, {}},
        // With its terminator the value needs 1025 bytes: unreadable.
        AuthCase{"TooLong", "Basic " + std::string(1018, 'A'), kNeeded, {}},
        AuthCase{"UnknownAddress", Basic("zed@example.com:secret"), kRefused, {"VL_GetByEmail"}},
        AuthCase{"Disabled", Basic("dis@example.com:secret"), kRefused,
                 {"VL_GetByEmail", "VL_GetIsDisabled", "VL_GetFree"}},
        AuthCase{"NoPermission", Basic("nop@example.com:secret"), kRefused,
                 {"VL_GetByEmail", "VL_GetIsDisabled", "VL_GetWebConfigBit", "VL_GetFree"}},
        AuthCase{"WrongPassword", Basic("ann@example.com:wrong"), kRefused, kAllFour},
        // The address is not trimmed or case-folded.
        AuthCase{"AddressCase", Basic("Ann@example.com:secret"), kRefused, {"VL_GetByEmail"}},
        AuthCase{"ZeroInsidePassword", Basic(std::string("ann@example.com:secret\0x", 24)), kAdmitted, kAllFour},
        AuthCase{"Accepted", Basic("ann@example.com:secret"), kAdmitted, kAllFour},
        AuthCase{"SchemeUpperCase", "BASIC " + EncodeBase64("ann@example.com:secret"), kAdmitted, kAllFour},
        AuthCase{"SchemeLowerCase", "basic " + EncodeBase64("ann@example.com:secret"), kAdmitted, kAllFour},
        AuthCase{"WithoutPadding", "Basic YW5uQGV4YW1wbGUuY29tOnNlY3JldA", kAdmitted, kAllFour},
        AuthCase{"FoldedLines", "Basic YW5uQGV4YW1w\r\nbGUuY29tOnNl\nY3JldA==", kAdmitted, kAllFour},
        AuthCase{"TrailingGarbage", Basic("ann@example.com:secret") + " more", kAdmitted, kAllFour},
        AuthCase{"PasswordWithColons", Basic("col@example.com:pa:ss:wd"), kAdmitted, kAllFour},
        AuthCase{"EmptyAddress", Basic(":empty"), kAdmitted, kAllFour}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CallerAuthentication, LibraryReceivesTheDecodedAddressAndPasswordAsTheyStand)
{
    FakeUserLibrary library;
    library.Add({.address = "col@example.com", .password = "pa:ss:wd"});
    FakeHost host;
    host.WithBasic("col@example.com", "pa:ss:wd").WithForm("cmd=none");
    host.Run();
    EXPECT_EQ(library.calls.front(), "VL_GetByEmail(col@example.com)");
    EXPECT_EQ(library.validatedPasswords, std::vector<std::string>{"pa:ss:wd"});
}

TEST(CallerAuthentication, LongestReadableHeaderIsAccepted)
{
    // 1023 bytes of value and the terminator fill the buffer exactly.
    FakeUserLibrary library;
    library.Add({.address = "ann@example.com", .password = "secret"});
    std::string value = "Basic " + EncodeBase64("ann@example.com:secret");
    value += std::string(1023 - value.size(), '=');
    FakeHost host;
    host.variables["HTTP_AUTHORIZATION"] = value;
    host.WithForm("cmd=none");
    EXPECT_NE(host.Run().Body().find(kAdmitted), std::string::npos);
}

} // namespace
