// Whole requests through the test host, from the control block to the last
// byte written, against the stand-in user library.
#include "bench/benchmarks.h"
#include "bench/data_sets.h"
#include "bench/loaded_extension.h"
#include "tests/fake_host.h"

#include <string>

namespace {

FakeHost CallerHost(const std::string& form)
{
    FakeHost host;
    host.WithBasic(kCallerAddress, kCallerPassword).WithForm(form);
    return host;
}

size_t CountAccounts(const std::string& listing)
{
    size_t count = 0;
    for (size_t at = listing.find("\"userName\""); at != std::string::npos; at = listing.find("\"userName\"", at + 1))
        ++count;
    return count;
}

void RunRequests(benchmark::State& state, FakeHost& host)
{
    for (auto _ : state) {
        HostAnswer answer = host.Run();
        benchmark::DoNotOptimize(answer);
    }
}

void ListRequest(benchmark::State& state)
{
    const ServerData& data = DataSet(static_cast<size_t>(state.range(0)));
    if (!LoadExtensionFor(data))
        return FailBenchmark(state, "GetExtensionVersion refused the data set");
    FakeHost host = CallerHost("cmd=list");
    HostAnswer first = host.Run();
    if (first.status != "200 OK" || CountAccounts(first.Body()) != data.accounts)
        return FailBenchmark(state, "the listing does not hold every account");

    RunRequests(state, host);
    state.counters["per_account"] = benchmark::Counter(static_cast<double>(data.accounts),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(first.Body().size()));
}

void AuthRequest(benchmark::State& state)
{
    const ServerData& data = DataSet(static_cast<size_t>(state.range(0)));
    if (!LoadExtensionFor(data))
        return FailBenchmark(state, "GetExtensionVersion refused the data set");
    // An account from the middle of the file, with its right password.
    size_t account = data.accounts / 2;
    std::string address = AccountAddress(account);
    address.replace(address.find('@'), 1, "%40");
    FakeHost host = CallerHost("cmd=auth&user=" + address + "&pass=" + AccountPassword(account));
    if (host.Run().Body() != "{\"succeeded\": true}\r\n")
        return FailBenchmark(state, "the account's own password was refused");

    RunRequests(state, host);
}

} // namespace

void RegisterRequestBenchmarks(const std::vector<size_t>& accountCounts)
{
    for (size_t accounts : accountCounts)
        benchmark::RegisterBenchmark("list_request", ListRequest)
            ->Arg(static_cast<int64_t>(accounts))
            ->Unit(benchmark::kMillisecond);
    for (size_t accounts : accountCounts)
        benchmark::RegisterBenchmark("auth_request", AuthRequest)
            ->Arg(static_cast<int64_t>(accounts))
            ->Unit(benchmark::kMicrosecond);
}
