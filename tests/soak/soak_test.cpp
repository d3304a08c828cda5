// Many host threads sending random requests, well-formed and not, through
// one loaded extension and the stand-in user library: every request gets
// exactly one of the extension's answers, and every account handle and
// search is given back. Run under the sanitizers, it also proves that no
// request touches memory it should not or leaks any.
#include "tests/fake_host.h"
#include "tests/userlib/server_layout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <thread>

namespace {

constexpr int kThreads = 8;
constexpr int kRequests = 100000;
constexpr int kAccounts = 40;

std::string Address(int i)
{
    return "user" + std::to_string(i) + "@example.com";
}

// Every answer the extension gives: status text and body.
struct Answer {
    std::string status;
    std::string body;
};

std::string Page(const std::string& status, const std::string& message)
{
    return "<html>\r\n<head><title>" + status + "</title></head>\r\n<body><h1>" + message +
           "</h1></body>\r\n</html>\r\n";
}

const std::vector<Answer> kErrorAnswers = {
    {"403 Forbidden", Page("403 Forbidden", "HTTPS required")},
    {"405 Method Not Allowed", Page("405 Method Not Allowed", "POST method required")},
    {"401 Unauthorized", Page("401 Unauthorized", "Authentication required")},
    {"401 Unauthorized", Page("401 Unauthorized", "Invalid username or password")},
    {"400 Bad Request", Page("400 Bad Request", "Invalid input")},
    {"400 Bad Request", Page("400 Bad Request", "Invalid command")},
};

// Bytes a client might send anywhere: form syntax, escapes, UTF-8 and bytes
// that are none of these.
std::string RandomText(std::mt19937& random, size_t most)
{
    static const std::string pieces[] = {"cmd",  "=",   "&",    "list", "auth", "user", "pass", "%",
                                         "%4",   "%41", "%zz",  "+",    "@",    ":",    "%00",  "\xC3\xA9",
                                         "\xFF", " ",   "user0@example.com", "pass0", "%C3%A9", "\xE2\x82"};
    std::string text;
    size_t length = std::uniform_int_distribution<size_t>(0, most)(random);
    while (text.size() < length)
        text += pieces[random() % std::size(pieces)];
    return text;
}

class Soak : public ExtensionLoadTest {
protected:
    void SetUp() override
    {
        ExtensionLoadTest::SetUp();
        std::string accounts = "Velmora@example.com | System | caller | 0 | 0 | 4 |\n"
                               "disabled@example.com | Off | caller | 1 | 0 | 4 |\n"
                               "plain@example.com | Plain | caller | 0 | 0 | 1 |\n";
        std::string aliases = "# aliases\n*@example.com = user0@example.com\n";
        for (int i = 0; i < kAccounts; ++i) {
            accounts += Address(i) + " | User \\xE9" + std::to_string(i) + " | pass" + std::to_string(i) + " | " +
                        (i % 7 == 6 ? "1" : "0") + " | " + (i % 5 == 4 ? "1" : "0") + " | |\n";
            aliases += "Alias" + std::to_string(i) + "@example.com = " + Address(i % 13) + "\r\n";
        }
        library = LayOut(accounts);
        std::ofstream(server.aliases, std::ios::binary) << aliases;
        ASSERT_EQ(Load(), TRUE);
        listBody = Run(ValidList()).Body();
        ASSERT_NE(listBody.find("alias39@example.com"), std::string::npos);
    }

    static FakeHost ValidList()
    {
        FakeHost host;
        host.WithBasic("Velmora@example.com", "caller").WithForm("cmd=list");
        return host;
    }

    static HostAnswer Run(FakeHost host) { return host.Run(); }

    // A request that breaks one rule or none: a list (one in five), an auth
    // with a right or wrong password, or a form of random bytes.
    static FakeHost RandomRequest(std::mt19937& random)
    {
        FakeHost host = ValidList();
        int kind = static_cast<int>(random() % 20);
        if (kind == 0)
            host.variables["HTTPS"] = random() % 2 ? "off" : "";
        if (kind == 1)
            host.method = random() % 2 ? "GET" : "HEAD";
        if (kind == 2)
            host.WithBasic(RandomText(random, 40), RandomText(random, 20));
        if (kind == 3)
            host.variables["HTTP_AUTHORIZATION"] = "Basic " + RandomText(random, 60);
        if (kind == 4)
            host.variables.erase("HTTP_AUTHORIZATION");
        if (kind == 5)
            host.WithBasic(random() % 2 ? "disabled@example.com" : "plain@example.com", "caller");
        if (kind == 6)
            host.contentType = random() % 2 ? "text/plain" : "";
        if (kind >= 7 && kind < 10)
            host.WithForm(RandomText(random, random() % 8 ? 120 : 5000));
        if (kind >= 10 && kind < 16) {
            int i = static_cast<int>(random() % (kAccounts + 2));
            std::string pass = random() % 3 ? "pass" + std::to_string(i) : RandomText(random, 12);
            host.WithForm("cmd=auth&user=" + Address(i) + "&pass=" + pass);
        }
        if (random() % 50 == 0)
            host.readChunk = 1 + static_cast<DWORD>(random() % 7);
        return host;
    }

    // One header, with the body it announces, and a status and body that
    // the extension gives.
    bool IsOneOfTheAnswers(const HostAnswer& answer, const std::string& method) const
    {
        if (answer.headerCalls != 1 || answer.keepConnection)
            return false;
        std::string body = answer.Body();
        if (method != "HEAD" &&
            answer.headers.find("Content-Length: " + std::to_string(body.size()) + "\r\n") == std::string::npos)
            return false;
        if (answer.status == "200 OK")
            return body == listBody || body == "{\"succeeded\": true}\r\n" || body == "{\"succeeded\": false}\r\n";
        for (const Answer& error : kErrorAnswers)
            if (answer.status == error.status && (method == "HEAD" ? body.empty() : body == error.body))
                return true;
        return false;
    }

    fs::path library;
    std::string listBody;
};

TEST_F(Soak, EveryRandomRequestGetsOneOfTheAnswersAndGivesEveryHandleBack)
{
    std::atomic<int> strange{0}, listed{0}, accepted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &strange, &listed, &accepted] {
            std::mt19937 random(static_cast<unsigned>(t) + 1);
            for (int r = 0; r < kRequests / kThreads; ++r) {
                FakeHost host = RandomRequest(random);
                std::string method = host.method;
                HostAnswer answer = host.Run();
                if (!IsOneOfTheAnswers(answer, method) && strange++ < 5)
                    ADD_FAILURE() << answer.status << "\n" << answer.headers << answer.Body();
                listed += answer.Body() == listBody;
                accepted += answer.Body() == "{\"succeeded\": true}\r\n";
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(strange, 0);
    // The well-formed requests were answered as such, not all refused.
    EXPECT_GT(listed, kRequests / 10);
    EXPECT_GT(accepted, kRequests / 10);
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);
}

} // namespace
