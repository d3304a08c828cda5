// A whole request through the test host against the in-process user library.
// The input is the Authorization header's value, a LF, the content type, a
// LF, then the body; an empty first line sends no Authorization header.
// Whatever arrives, the extension answers once, with a Content-Length that
// matches its body, and gives back every handle and search it opened.
#include "fuzz/fuzz_target.h"
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"
#include "tests/temp_directory.h"

#include <string>
#include <string_view>

namespace {

// Accounts of every kind the stages tell apart, an alias file with each kind
// of line, and two groups, so that every path of both commands is reachable.
struct Server {
    Server()
    {
        library.aliasPath = directory.Write("alias.txt", "Sales@Example.com = Ann@Example.com\n"
                                                         "info@example.com=ann@example.com\r\n"
                                                         "#old@example.com = ben@example.com\n"
                                                         "*@example.com = cat@example.com\n"
                                                         "postmaster@$LocalDomain$ = ann@example.com\n");
        library.settingsPath = directory.Write("settings.ini", "[TessalineIntegration]\r\nGroupNames=Sales,Support\r\n");
        library.Add({.address = "Velmora@example.com", .password = "caller", .fullName = "Caller"});
        library.Add({.address = "ann@example.com", .password = "ann-pass", .fullName = "Ann \xC9xample",
                     .groups = {"Sales"}});
        library.Add({.address = "ben@example.com", .password = "ben-pass", .fullName = "Ben \"B\\\x01",
                     .webConfig4 = false, .groups = {"Support"}});
        library.Add({.address = "cat@example.com", .password = "cat-pass", .disabled = true, .groups = {"Sales"}});
        library.Add({.address = "dan@example.com", .password = "d\xE9n", .frozen = true});
    }

    TempDirectory directory;
    FakeUserLibrary library;
};

std::string_view NextLine(std::string_view& input)
{
    size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return line;
}

void Check(const Server& server, const HostAnswer& answer)
{
    if (answer.headerCalls != 1)
        FuzzFailure("not exactly one response header");
    std::string length = "Content-Length: " + std::to_string(answer.Body().size()) + "\r\n";
    if (answer.headers.find(length) == std::string::npos)
        FuzzFailure("Content-Length differs from the body sent");
    if (server.library.openHandles != 0 || server.library.openSearches != 0)
        FuzzFailure("a user handle or search was not given back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Server server;
    server.library.calls.clear();
    server.library.validatedPasswords.clear();

    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view authorization = NextLine(input);
    FakeHost host;
    if (!authorization.empty())
        host.variables["HTTP_AUTHORIZATION"] = authorization;
    host.contentType = NextLine(input);
    host.body = input;
    // The body's size picks how the host hands it over: whole, half at once
    // and the rest through ReadClient, or a few bytes a call.
    host.available = host.body.size() % 3 == 0 ? UINT32_MAX : static_cast<DWORD>(host.body.size() / 2);
    host.readChunk = 1 + static_cast<DWORD>(host.body.size() % 5);

    Check(server, host.Run());
    return 0;
}
