// Passwords leave no trace: this program replaces the heap's deallocation
// functions and records every freed block that still holds a password, in
// its narrow or UTF-16 form, and looks at the stack that a request used once
// it has returned. The body, every form parameter, the auth command's
// conversion buffers and the caller's credentials are all covered.
#include "tests/fake_host.h"
#include "userlib/user_library.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

// The texts that no freed block may hold while a request runs.
std::vector<std::string> gSecrets;
std::atomic<bool> gWatching{false};
std::atomic<int> gFreedWithSecret{0};

bool Holds(const void* block, size_t size, const std::string& secret)
{
    return secret.size() <= size && memmem(block, size, secret.data(), secret.size()) != nullptr;
}

void Inspect(void* block)
{
    if (!block || !gWatching)
        return;
    size_t size = malloc_usable_size(block);
    for (const std::string& secret : gSecrets)
        if (Holds(block, size, secret))
            ++gFreedWithSecret;
}

} // namespace

void* operator new(size_t size)
{
    if (void* block = malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size)
{
    return operator new(size);
}
void operator delete(void* block) noexcept
{
    Inspect(block);
    free(block);
}
void operator delete[](void* block) noexcept
{
    operator delete(block);
}
void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}
void operator delete[](void* block, size_t) noexcept
{
    operator delete(block);
}

namespace {

constexpr UserHandle kCaller = 1, kUser = 2;

// The passwords as the user library holds them, in the ANSI code page.
std::string gCallerPassword, gUserPassword;

// A user library of two accounts that copies no password anywhere.
void InstallLibrary()
{
    gUserLibrary = BindingTable{};
    gUserLibrary.VL_GetByEmail = [](const char* address) -> UserHandle {
        return strcmp(address, "caller@example.com") == 0 ? kCaller
               : strcmp(address, "user@example.com") == 0 ? kUser
                                                           : kNoUser;
    };
    gUserLibrary.VL_GetIsDisabled = [](UserHandle) -> uint8_t { return 0; };
    gUserLibrary.VL_GetIsFrozen = [](UserHandle) -> uint8_t { return 0; };
    gUserLibrary.VL_GetWebConfigBit = [](UserHandle, int32_t) -> uint8_t { return 1; };
    gUserLibrary.VL_ValidateUser = [](UserHandle user, const char* password) -> uint8_t {
        return strcmp(password, (user == kCaller ? gCallerPassword : gUserPassword).c_str()) == 0;
    };
    gUserLibrary.VL_GetFree = [](UserHandle) {};
}

std::string Utf16(const std::string& latin1)
{
    std::string units;
    for (char c : latin1) {
        units += c;
        units += '\0';
    }
    return units;
}

std::string PercentEncoded(const std::string& utf8)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

// Whether the stack below the caller's frame, where the request's frames
// were, still holds the text. Read byte by byte past the sanitizer, which
// would take the dead frames for live ones.
__attribute__((no_sanitize_address, noinline)) bool StackBelowHolds(const std::string& secret)
{
    volatile char here = 0;
    const char* top = const_cast<const char*>(&here);
    constexpr size_t kDepth = 256 * 1024;
    const char* bottom = top - kDepth;
    for (const char* start = bottom; start + secret.size() <= top; ++start) {
        size_t matched = 0;
        while (matched < secret.size() && static_cast<char>(start[matched]) == secret[matched])
            ++matched;
        if (matched == secret.size())
            return true;
    }
    return false;
}

struct SecretCase {
    const char* name;
    const char* callerPassword; // as sent, UTF-8
    const char* userPassword;   // as sent, UTF-8; empty: a list request
    const char* userPasswordAnsi;
    bool userPasswordRight;
};

void PrintTo(const SecretCase& c, std::ostream* os)
{
    *os << c.name;
}

class SecretsWiped : public testing::TestWithParam<SecretCase> {};

// The request runs on a thread of its own, whose whole stack is mapped, so
// that the stack it used can be read once it has returned.
TEST_P(SecretsWiped, NoFreedBlockAndNoStackHoldsAPassword)
{
    const SecretCase& c = GetParam();
    InstallLibrary();
    gCallerPassword = c.callerPassword;
    gUserPassword = c.userPassword[0] ? c.userPasswordAnsi : "";
    std::string sentUser = c.userPasswordRight ? c.userPassword : std::string(c.userPassword) + "x";
    gSecrets = {c.callerPassword, Utf16(c.callerPassword), sentUser, c.userPasswordAnsi,
                Utf16(c.userPasswordAnsi)};

    FakeHost host;
    host.WithBasic("caller@example.com", c.callerPassword);
    host.WithForm("cmd=auth&user=user@example.com&pass=" + PercentEncoded(sentUser));
    std::string body;
    bool stackHolds = false;
    std::thread request([&] {
        gFreedWithSecret = 0;
        gWatching = true;
        HostAnswer answer = host.Run();
        gWatching = false;
        body = answer.Body();
        stackHolds = StackBelowHolds(c.callerPassword);
    });
    request.join();

    EXPECT_EQ(body, c.userPasswordRight ? "{\"succeeded\": true}\r\n" : "{\"succeeded\": false}\r\n");
    EXPECT_EQ(gFreedWithSecret, 0);
    EXPECT_FALSE(stackHolds);
    gUserLibrary = BindingTable{};
}

// Short passwords live inside the string objects themselves, long ones on
// the heap; accented ones pass through every conversion.
INSTANTIATE_TEST_SUITE_P(
    Cases, SecretsWiped,
    testing::Values(
        SecretCase{"Short", "Cq7-kx", "Uz4-mw", "Uz4-mw", true},
        SecretCase{"ShortWrong", "Cq7-kx", "Uz4-mw", "Uz4-mw", false},
        SecretCase{"Long", "caller-Qv8#Lm2!Zp5@Rt9", "user-Hx3$Wn6^Jb1&Ks4", "user-Hx3$Wn6^Jb1&Ks4", true},
        SecretCase{"Accented", "caller-\xC3\xA9t\xC3\xA9-Qv8#Lm2", "user-\xC3\xA9t\xC3\xA9-Hx3$Wn6",
                   "user-\xE9t\xE9-Hx3$Wn6", true},
        SecretCase{"AccentedWrong", "caller-\xC3\xA9t\xC3\xA9-Qv8#Lm2", "user-\xC3\xA9t\xC3\xA9-Hx3$Wn6",
                   "user-\xE9t\xE9-Hx3$Wn6", false}),
    [](const auto& info) { return std::string(info.param.name); });

// A caller refused for a wrong password leaves no trace either.
TEST(SecretsWipedRefusedCaller, NoFreedBlockAndNoStackHoldsThePassword)
{
    InstallLibrary();
    gCallerPassword = "caller-Qv8#Lm2!Zp5@Rt9";
    const std::string sent = "caller-Wrong#Lm2!Zp5@Rt9";
    gSecrets = {sent, Utf16(sent)};

    FakeHost host;
    host.WithBasic("caller@example.com", sent).WithForm("cmd=list");
    std::string status;
    bool stackHolds = false;
    std::thread request([&] {
        gFreedWithSecret = 0;
        gWatching = true;
        status = host.Run().status;
        gWatching = false;
        stackHolds = StackBelowHolds(sent);
    });
    request.join();

    EXPECT_EQ(status, "401 Unauthorized");
    EXPECT_EQ(gFreedWithSecret, 0);
    EXPECT_FALSE(stackHolds);
    gUserLibrary = BindingTable{};
}

} // namespace
