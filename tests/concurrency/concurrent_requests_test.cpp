// Host threads running list and auth requests at once through one loaded
// extension: every answer right, every handle given back.
#include "tests/fake_host.h"
#include "tests/userlib/server_layout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace {

constexpr int kAccounts = 300;
constexpr int kThreads = 8;
constexpr int kRequestsPerThread = 150;

std::string Address(int i)
{
    return "user" + std::to_string(i) + "@example.com";
}

class ConcurrentRequests : public ExtensionLoadTest {
protected:
    void SetUp() override
    {
        ExtensionLoadTest::SetUp();
        std::string accounts = "Velmora@example.com | System | caller | 0 | 0 | 4 |\n";
        std::string aliases;
        for (int i = 0; i < kAccounts; ++i) {
            accounts += Address(i) + " | User " + std::to_string(i) + " | pass" + std::to_string(i) +
                        (i % 10 == 9 ? " | 1 | 0 |   |\n" : " | 0 | 0 |   |\n");
            aliases += "alias" + std::to_string(i) + "@example.com = " + Address(i) + "\n";
        }
        library = LayOut(accounts);
        std::ofstream(server.aliases, std::ios::binary) << aliases;
        ASSERT_EQ(Load(), TRUE);
    }

    static HostAnswer Request(const std::string& form)
    {
        FakeHost host;
        host.WithBasic("Velmora@example.com", "caller").WithForm(form);
        return host.Run();
    }

    fs::path library;
};

TEST_F(ConcurrentRequests, EveryAnswerIsRightAndEveryHandleGivenBack)
{
    const std::string expectedList = Request("cmd=list").Body();
    ASSERT_NE(expectedList.find("\"alias299@example.com\""), std::string::npos);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &expectedList] {
            for (int r = 0; r < kRequestsPerThread; ++r) {
                int i = (t * kRequestsPerThread + r) % kAccounts;
                if (r % 10 == 0) {
                    wrong += Request("cmd=list").Body() != expectedList;
                    continue;
                }
                // Every third a wrong password; every tenth account is disabled.
                bool right = r % 3 != 0;
                std::string form = "cmd=auth&user=" + Address(i) + "&pass=" + (right ? "pass" : "nope") +
                                   std::to_string(i);
                bool expected = right && i % 10 != 9;
                wrong += Request(form).Body() !=
                         (expected ? "{\"succeeded\": true}\r\n" : "{\"succeeded\": false}\r\n");
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);
}

} // namespace
