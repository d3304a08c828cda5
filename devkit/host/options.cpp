#include "devkit/host/options.h"

#include <charconv>
#include <iostream>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace {

constexpr char kUsage[] = R"(Usage: isapi-devhost --extension PATH [options]

Serves an ISAPI extension over HTTPS as IIS would: every request, whatever its
path, goes to the extension's HttpExtensionProc.

  --extension PATH        the ISAPI extension (.so) to load; required
  --listen ADDR:PORT      HTTPS listener (default 127.0.0.1:8443; port 0 picks
                          a free port, the chosen one is printed on stderr)
  --http-listen ADDR:PORT also listen for plain HTTP; there the HTTPS server
                          variable reads "off"
  --cert FILE --key FILE  PEM certificate chain and private key for HTTPS
  --state-dir DIR         without --cert/--key, where the self-signed
                          certificate for localhost and 127.0.0.1 is made on
                          first use and kept: isapi-devhost-cert.pem and
                          isapi-devhost-key.pem (default:
                          $XDG_STATE_HOME/isapi-devhost, or
                          ~/.local/state/isapi-devhost)
                          As ssh does, the host refuses a state directory
                          that is not the user's own or that others may
                          write, and a key, made or given, that is not the
                          user's own or that others may read or write
  --threads N             worker threads calling HttpExtensionProc
                          concurrently (default: number of cores)
  --network-threads N     threads that accept and carry the connections, TLS
                          included; each listens on the same port and keeps
                          the connections it accepts (default: number of
                          cores)
  --read-ahead BYTES      how much of a request body is handed over in lpbData;
                          the extension reads the rest with ReadClient
                          (default 49152)
  --max-body BYTES        largest request body taken; a longer declared one is
                          answered 413 before it is read, and without
                          100 Continue (default 65536)
  --client-connections N  connections one client address may hold open; more
                          are closed at once, unanswered (default 32; the host
                          holds at most 256 in all)
  --answer-budget BYTES   the most answer bytes the host holds at once, for
                          all connections together, from the extension's
                          writes until the client has taken them; an answer
                          that would pass it is dropped and the request
                          answered 503 with Retry-After set to --timeout
                          (default 268435456, 256 MiB)
  --head-timeout SECONDS  the TLS handshake and the request's head must both
                          be in within this long of the connection's opening;
                          on a kept-alive connection the next request's head
                          within this long of the previous answer (default 10)
  --timeout SECONDS       longest wait for a request's body, and for an answer
                          to be written to the client; an answer the client
                          does not take in time is logged "undelivered"
                          (default 10)
  --help                  this text

The extension reads its own settings; for the Velmora extension the registry
file is named by the environment variable VELMORA_REGISTRY_FILE.
One line per request goes to stdout: time, client, method, path, status,
bytes sent, milliseconds, and "undelivered" when the client did not take the
whole answer. SIGINT or SIGTERM stops the host once the running
requests are answered.
)";

unsigned long long ParseNumber(std::string_view text, const char* option)
{
    unsigned long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::invalid_argument(std::string(option) + " needs a number, not '" + std::string(text) + "'");
    return value;
}

ListenAddress ParseListenAddress(std::string_view text, const char* option)
{
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        throw std::invalid_argument(std::string(option) + " needs ADDR:PORT, not '" + std::string(text) + "'");
    std::string_view host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    unsigned long long port = ParseNumber(text.substr(colon + 1), option);
    if (port > 65535)
        throw std::invalid_argument(std::string(option) + " port out of range");
    return {std::string(host), static_cast<unsigned short>(port)};
}

unsigned NumberOfCores()
{
    unsigned cores = std::thread::hardware_concurrency();
    return cores ? cores : 1;
}

Options Parse(int argc, char** argv)
{
    Options options;
    options.threads = NumberOfCores();
    options.networkThreads = NumberOfCores();
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (i + 1 >= argc)
            throw std::invalid_argument("unknown option or missing value: " + std::string(option));
        std::string_view value = argv[++i];
        if (option == "--extension")
            options.extension = value;
        else if (option == "--listen")
            options.https = ParseListenAddress(value, "--listen");
        else if (option == "--http-listen")
            options.http = ParseListenAddress(value, "--http-listen");
        else if (option == "--cert")
            options.certificate = value;
        else if (option == "--key")
            options.key = value;
        else if (option == "--state-dir")
            options.stateDirectory = value;
        else if (option == "--threads")
            options.threads = static_cast<unsigned>(ParseNumber(value, "--threads"));
        else if (option == "--network-threads")
            options.networkThreads = static_cast<unsigned>(ParseNumber(value, "--network-threads"));
        else if (option == "--read-ahead")
            options.readAhead = ParseNumber(value, "--read-ahead");
        else if (option == "--max-body")
            options.maxBody = ParseNumber(value, "--max-body");
        else if (option == "--client-connections")
            options.clientConnections = ParseNumber(value, "--client-connections");
        else if (option == "--answer-budget")
            options.answerBudget = ParseNumber(value, "--answer-budget");
        else if (option == "--head-timeout")
            options.headTimeout = std::chrono::seconds(ParseNumber(value, "--head-timeout"));
        else if (option == "--timeout")
            options.timeout = std::chrono::seconds(ParseNumber(value, "--timeout"));
        else
            throw std::invalid_argument("unknown option: " + std::string(option));
    }
    if (options.extension.empty())
        throw std::invalid_argument("--extension PATH is required");
    if (options.certificate.empty() != options.key.empty())
        throw std::invalid_argument("--cert and --key go together");
    if (options.threads == 0 || options.networkThreads == 0 || options.clientConnections == 0 ||
        options.answerBudget == 0 || options.headTimeout.count() == 0 || options.timeout.count() == 0)
        throw std::invalid_argument("--threads, --network-threads, --client-connections, --answer-budget, "
                                    "--head-timeout and --timeout must be at least 1");
    return options;
}

bool AsksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h")
            return true;
    return false;
}

} // namespace

CommandLine ParseCommandLine(int argc, char** argv)
{
    if (AsksForHelp(argc, argv)) {
        std::cout << kUsage;
        return 0;
    }
    try {
        return Parse(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::cerr << "isapi-devhost: " << error.what() << "\n(see isapi-devhost --help)\n";
        return 2;
    }
}
