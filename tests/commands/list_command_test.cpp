// The list command: the exact JSON body, which accounts are listed, the
// aliases of each, and the account search opened and closed once.
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

class ListCommand : public testing::Test {
protected:
    ListCommand()
    {
        library.aliasPath = directory.Write("alias.txt", "");
        library.settingsPath = directory.Write("settings.ini", "[TessalineIntegration]\r\nGroupNames=\r\n");
        // The caller's reserved address keeps it out of every listing.
        library.Add({.address = "Velmora@example.com", .password = "caller", .fullName = "Caller"});
    }

    void Aliases(const std::string& text) { directory.Write("alias.txt", text); }
    void Groups(const std::string& names)
    {
        directory.Write("settings.ini", "[TessalineIntegration]\r\nGroupNames=" + names + "\r\n");
    }

    HostAnswer List()
    {
        FakeHost host;
        host.WithBasic("Velmora@example.com", "caller").WithForm("cmd=list");
        library.calls.clear();
        return host.Run();
    }

    TempDirectory directory;
    FakeUserLibrary library;
};

TEST_F(ListCommand, TwoAccountsGiveTheExampleBody)
{
    library.Add({.address = "ann@example.com", .fullName = "Ann Example"});
    library.Add({.address = "ben@example.com", .fullName = "Ben Example"});
    Aliases("sales@example.com = ann@example.com\ninfo@example.com = ann@example.com\n");
    HostAnswer answer = List();

    std::string expected =
        "[\r\n"
        "{\"userName\": \"ann@example.com\", \"fullName\": \"Ann Example\", \"emailAddresses\": "
        "[\"ann@example.com\", \"sales@example.com\", \"info@example.com\"]},\r\n"
        "{\"userName\": \"ben@example.com\", \"fullName\": \"Ben Example\", \"emailAddresses\": "
        "[\"ben@example.com\"]}\r\n"
        "]\r\n";
    EXPECT_EQ(answer.status, "200 OK");
    EXPECT_EQ(answer.Body(), expected);
    EXPECT_EQ(answer.headers, "Content-Type: text/json; charset=UTF-8\r\nContent-Length: " +
                                  std::to_string(expected.size()) + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.keepConnection, FALSE);
    EXPECT_EQ(library.findCloseCalls, 1);
    EXPECT_EQ(library.openSearches, 0);
}

TEST_F(ListCommand, ReservedPrefixInAnyCaseIsSkipped)
{
    library.Add({.address = "VELMORA@example.com"});
    library.Add({.address = "velMora@x"});
    library.Add({.address = "Velmora"});
    EXPECT_EQ(List().Body(),
              "[\r\n{\"userName\": \"velmora\", \"fullName\": \"\", \"emailAddresses\": [\"velmora\"]}\r\n]\r\n");
}

// What the settings file says of the group filter: a missing file or key
// means every account; a file that exists but cannot be read (a directory
// stands in its place) leaves the filter unknown, and nothing is listed.
TEST_F(ListCommand, TheGroupFilterFailsClosed)
{
    library.Add({.address = "ann@example.com", .groups = {"Sales"}});
    const std::string everyone =
        "[\r\n{\"userName\": \"ann@example.com\", \"fullName\": \"\", \"emailAddresses\": [\"ann@example.com\"]}\r\n]\r\n";
    const struct {
        const char* name;
        std::string settingsPath;
        const char* status;
        std::string body;
    } cases[] = {
        {"missing file", directory.File("missing.ini"), "200 OK", everyone},
        {"missing key", directory.Write("other.ini", "[TessalineIntegration]\r\nOther=1\r\n"), "200 OK", everyone},
        {"unreadable file", directory.File("unreadable.ini"), "500 Internal Server Error",
         "<html>\r\n<head><title>500 Internal Server Error</title></head>\r\n"
         "<body><h1>Internal server error</h1></body>\r\n</html>\r\n"},
    };
    std::filesystem::create_directory(directory.File("unreadable.ini"));
    for (const auto& c : cases) {
        library.settingsPath = c.settingsPath;
        HostAnswer answer = List();
        EXPECT_EQ(answer.status, c.status) << c.name;
        EXPECT_EQ(answer.Body(), c.body) << c.name;
        EXPECT_EQ(library.openSearches, 0) << c.name;
    }
}

TEST_F(ListCommand, NoListableAccountGivesTheEmptyArray)
{
    EXPECT_EQ(List().Body(), "[\r\n]\r\n");
}

TEST_F(ListCommand, GroupsFilterInListOrderStoppingAtTheFirstMember)
{
    Groups(",Sales,,Support,");
    library.Add({.address = "adm@example.com", .groups = {"Admins"}});
    library.Add({.address = "Both@example.com", .groups = {"Support", "Sales"}});
    library.Add({.address = "sup@example.com", .groups = {"Support"}});
    std::string body = List().Body();

    std::vector<std::string> groupCalls;
    for (const std::string& call : library.calls)
        if (call.rfind("VL_GroupFindMember", 0) == 0)
            groupCalls.push_back(call);
    EXPECT_EQ(groupCalls, (std::vector<std::string>{
                              "VL_GroupFindMember(adm@example.com,Sales)",
                              "VL_GroupFindMember(adm@example.com,Support)",
                              "VL_GroupFindMember(Both@example.com,Sales)",
                              "VL_GroupFindMember(sup@example.com,Sales)",
                              "VL_GroupFindMember(sup@example.com,Support)",
                          }));
    EXPECT_EQ(body.find("adm@example.com"), std::string::npos);
    EXPECT_NE(body.find("\"userName\": \"both@example.com\""), std::string::npos);
    EXPECT_NE(body.find("\"userName\": \"sup@example.com\""), std::string::npos);
    // The full name is asked only for listed accounts.
    EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(), "VL_GetFullName"), 2);
}

TEST_F(ListCommand, AliasesFoundUnderTheLowerCasedAddressInFileOrder)
{
    library.Add({.address = "Ann@Example.COM", .fullName = "Ann"});
    Aliases("z@example.com = ANN@example.com\nb@example.com = ann@example.com\nz@example.com = ann@example.com\n");
    EXPECT_EQ(List().Body(), "[\r\n{\"userName\": \"ann@example.com\", \"fullName\": \"Ann\", \"emailAddresses\": "
                             "[\"ann@example.com\", \"z@example.com\", \"b@example.com\", \"z@example.com\"]}\r\n]\r\n");
}

struct NameCase {
    const char* name;
    std::string fullName; // as the library gives it, in the ANSI code page
    std::string json;     // as written in the body
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class ListFullName : public ListCommand, public testing::WithParamInterface<NameCase> {};

TEST_P(ListFullName, IsWrittenAsEscapedUtf8)
{
    library.Add({.address = "a@x", .fullName = GetParam().fullName});
    EXPECT_EQ(List().Body(), "[\r\n{\"userName\": \"a@x\", \"fullName\": " + GetParam().json +
                                 ", \"emailAddresses\": [\"a@x\"]}\r\n]\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ListFullName,
    testing::Values(NameCase{"Empty", "", "\"\""}, NameCase{"Plain", "Ann Example", "\"Ann Example\""},
                    NameCase{"Ansi", "Jos\xE9 M\xFCller \x80", "\"Jos\xC3\xA9 M\xC3\xBCller \xE2\x82\xAC\""},
                    NameCase{"QuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                    NameCase{"Controls", "a\tb\x01\x1F", "\"a\\u0009b\\u0001\\u001f\""},
                    // Escapes on either side of the sixteenth byte, and in every byte.
                    NameCase{"EscapeEndsTheFirstSixteen", std::string(15, 'n') + "\"",
                             "\"" + std::string(15, 'n') + "\\\"\""},
                    NameCase{"EscapeStartsTheNextSixteen", std::string(16, 'n') + "\x01n",
                             "\"" + std::string(16, 'n') + "\\u0001n\""},
                    NameCase{"EveryByteEscaped", std::string(17, '\\'), "\"" + std::string(34, '\\') + "\""},
                    // The library filled all 31 bytes without a terminator.
                    NameCase{"FilledToTheEnd", std::string(31, 'n'), "\"" + std::string(31, 'n') + "\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListCommand, AddressFilledToTheEndEndsAtItsLastByte)
{
    std::string address = std::string(73, 'a') + "@x.Y"; // 77 bytes, no room for a zero
    library.Add({.address = address});
    std::string lowered = std::string(73, 'a') + "@x.y";
    EXPECT_EQ(List().Body(), "[\r\n{\"userName\": \"" + lowered + "\", \"fullName\": \"\", \"emailAddresses\": [\"" +
                                 lowered + "\"]}\r\n]\r\n");
}

TEST_F(ListCommand, FailedSearchIsAnInternalErrorWithoutClose)
{
    library.findFirstFails = true;
    HostAnswer answer = List();
    EXPECT_EQ(answer.status, "500 Internal Server Error");
    EXPECT_NE(answer.Body().find("Internal server error"), std::string::npos);
    EXPECT_EQ(library.findCloseCalls, 0);
}

} // namespace
