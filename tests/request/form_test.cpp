// Form reading through the fake host: content type and size, reading the
// body in pieces, cutting and decoding the pairs, and selecting the command.
#include "extension/request_context.h"
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

constexpr char kInvalidInput[] = "Invalid input";
constexpr char kInvalidCommand[] = "Invalid command";

// A fixture whose caller always authenticates; the auth command then answers
// false without asking the library, which marks a form that was accepted.
class Form : public testing::Test {
protected:
    Form()
    {
        library.Add({.address = "ann@example.com", .password = "secret"});
        host.WithBasic("ann@example.com", "secret");
    }

    std::string Answer() { return host.Run().Body(); }

    FakeUserLibrary library;
    FakeHost host;
};

constexpr char kAccepted[] = "{\"succeeded\": false}\r\n";

struct ContentTypeCase {
    const char* contentType;
    bool accepted;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const ContentTypeCase& c, std::ostream* os)
{
    *os << testing::PrintToString(std::string(c.contentType));
}

class FormContentType : public Form, public testing::WithParamInterface<ContentTypeCase> {};

TEST_P(FormContentType, AcceptsOnlyTheUrlEncodedForm)
{
    host.contentType = GetParam().contentType;
    host.WithForm("cmd=auth");
    HostAnswer answer = host.Run();
    if (GetParam().accepted) {
        EXPECT_EQ(answer.Body(), kAccepted);
    } else {
        EXPECT_EQ(answer.status, "400 Bad Request");
        EXPECT_NE(answer.Body().find(kInvalidInput), std::string::npos);
        EXPECT_EQ(answer.Body().size(), 99u);
        EXPECT_EQ(host.readCalls, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FormContentType,
                         testing::Values(ContentTypeCase{"application/x-www-form-urlencoded", true},
                                         ContentTypeCase{"Application/X-WWW-Form-Urlencoded", true},
                                         ContentTypeCase{"application/x-www-form-urlencoded; charset=UTF-8", true},
                                         ContentTypeCase{"application/x-www-form-urlencoded;", true},
                                         ContentTypeCase{"application/x-www-form-urlencoded ; charset=UTF-8", false},
                                         ContentTypeCase{"application/x-www-form-urlencodedx", false},
                                         ContentTypeCase{"application/x-www-form-urlencode", false},
                                         ContentTypeCase{"multipart/form-data", false},
                                         ContentTypeCase{"", false}));

struct SizeCase {
    size_t size;
    bool accepted;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.size;
}

class FormSize : public Form, public testing::WithParamInterface<SizeCase> {};

TEST_P(FormSize, AcceptsOneTo4096Bytes)
{
    // "cmd=auth" padded with "&" up to the size.
    std::string body = "cmd=auth";
    body.resize(GetParam().size, '&');
    host.WithForm(body);
    host.available = 0;
    HostAnswer answer = host.Run();
    if (GetParam().accepted) {
        EXPECT_EQ(answer.Body(), kAccepted);
    } else {
        EXPECT_NE(answer.Body().find(kInvalidInput), std::string::npos);
        EXPECT_EQ(host.readCalls, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FormSize,
                         testing::Values(SizeCase{0, false}, SizeCase{8, true}, SizeCase{4096, true},
                                         SizeCase{4097, false}));

TEST_F(Form, OneByteBodyIsReadAndParsed)
{
    host.WithForm("c");
    EXPECT_NE(Answer().find(kInvalidCommand), std::string::npos);
}

struct DeliveryCase {
    const char* name;
    DWORD available;
    DWORD readChunk;
    int readCalls;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const DeliveryCase& c, std::ostream* os)
{
    *os << c.name;
}

class FormDelivery : public Form, public testing::WithParamInterface<DeliveryCase> {};

TEST_P(FormDelivery, ReadsTheWholeBodyHoweverTheHostDeliversIt)
{
    host.WithForm("cmd=auth&user=ann%40example.com&pass=secret");
    host.available = GetParam().available;
    host.readChunk = GetParam().readChunk;
    EXPECT_EQ(Answer(), "{\"succeeded\": true}\r\n");
    EXPECT_EQ(host.readCalls, GetParam().readCalls);
}

INSTANTIATE_TEST_SUITE_P(Table, FormDelivery,
                         testing::Values(DeliveryCase{"AllReceived", UINT32_MAX, UINT32_MAX, 0},
                                         DeliveryCase{"NothingReceived", 0, UINT32_MAX, 1},
                                         DeliveryCase{"InTwo", 10, UINT32_MAX, 1},
                                         DeliveryCase{"InSeveral", 5, 7, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form, AsksForExactlyTheMissingBytes)
{
    host.WithForm("cmd=auth&user=a");
    host.available = 4;
    Answer();
    EXPECT_EQ(host.readRequests, std::vector<DWORD>{11});
}

TEST_F(Form, FailedOrEmptyReadIsAnInternalError)
{
    for (bool fails : {true, false}) {
        host.WithForm("cmd=auth");
        host.available = 3;
        host.readFails = fails;
        // Without failing, the host claims more than it will ever deliver.
        host.declaredTotal = fails ? UINT32_MAX : 20;
        HostAnswer answer = host.Run();
        EXPECT_EQ(answer.status, "500 Internal Server Error");
        EXPECT_NE(answer.Body().find("Error reading posted data"), std::string::npos);
        EXPECT_EQ(answer.Body().size(), 121u);
    }
}

TEST_F(Form, CopiesNoMoreThanTheTotalWhenTheHostReportsMoreAvailable)
{
    host.WithForm("cmd=authXXXX");
    host.declaredTotal = 8;
    EXPECT_EQ(Answer(), kAccepted);
}

struct PairsCase {
    std::string body;
    std::vector<std::pair<std::string, std::string>> parameters;
    CommandKind command;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const PairsCase& c, std::ostream* os)
{
    *os << testing::PrintToString(c.body);
}

// Runs the form stage alone, on a context of its own, to see its parameters.
class FormPairs : public Form, public testing::WithParamInterface<PairsCase> {};

TEST_P(FormPairs, CutsDecodesAndSelects)
{
    const PairsCase& c = GetParam();
    host.WithForm(c.body);
    std::vector<std::pair<std::string, std::string>> seen;
    CommandKind command = kCommandNone;
    static thread_local decltype(seen)* seenOut;
    static thread_local CommandKind* commandOut;
    seenOut = &seen;
    commandOut = &command;
    host.RunWith([](EXTENSION_CONTROL_BLOCK* ecb) -> DWORD {
        RequestContext context(ecb);
        context.ReadForm();
        for (const FormParameter& p : context.Parameters())
            seenOut->emplace_back(p.name, p.value);
        *commandOut = context.Command();
        return HSE_STATUS_SUCCESS;
    });
    EXPECT_EQ(seen, c.parameters);
    EXPECT_EQ(command, c.command);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormPairs,
    testing::Values(PairsCase{"cmd=list", {{"cmd", "list"}}, kCommandList},
                    PairsCase{"CMD=LIST", {{"CMD", "LIST"}}, kCommandList},
                    PairsCase{"cmd=Auth&user=a&pass=b", {{"cmd", "Auth"}, {"user", "a"}, {"pass", "b"}}, kCommandAuth},
                    PairsCase{"&&cmd=list&&", {{"cmd", "list"}}, kCommandList},
                    PairsCase{"&", {}, kCommandNone},
                    PairsCase{"cmd", {{"cmd", ""}}, kCommandNone},
                    PairsCase{"cmd=list&cmd=auth", {{"cmd", "list"}, {"cmd", "auth"}}, kCommandList},
                    PairsCase{"cmd=x&cmd=list", {{"cmd", "x"}, {"cmd", "list"}}, kCommandNone},
                    PairsCase{"c%6Dd=li%73t", {{"cmd", "list"}}, kCommandList},
                    PairsCase{"cmd=list+", {{"cmd", "list "}}, kCommandNone},
                    PairsCase{"cmd=+list", {{"cmd", " list"}}, kCommandNone},
                    PairsCase{"cmd=listing", {{"cmd", "listing"}}, kCommandNone},
                    PairsCase{"cmd=list%00x", {{"cmd", "list"}}, kCommandList},
                    PairsCase{"a=1%262&b", {{"a", "1&2"}, {"b", ""}}, kCommandNone},
                    PairsCase{"x%3Dy=z", {{"x=y", "z"}}, kCommandNone},
                    PairsCase{"a=b=c", {{"a", "b=c"}}, kCommandNone},
                    PairsCase{"=v", {{"", "v"}}, kCommandNone},
                    PairsCase{"a=1\0&cmd=list"s, {{"a", "1"}}, kCommandNone}));

TEST_F(Form, InvalidCommandPageIsExact)
{
    host.WithForm("cmd=x");
    HostAnswer answer = host.Run();
    EXPECT_EQ(answer.status, "400 Bad Request");
    EXPECT_EQ(answer.Body(), "<html>\r\n<head><title>400 Bad Request</title></head>\r\n"
                             "<body><h1>Invalid command</h1></body>\r\n</html>\r\n");
    EXPECT_EQ(answer.Body().size(), 101u);
}

} // namespace
