// Benchmarks of the extension at several mail server sizes:
//
//   extension_bench [--accounts=N[,N...]] [Google Benchmark flags]
//
// --accounts picks the account counts (default 1000,10000,100000); a data set
// of each is generated before the first benchmark runs.
#include "bench/benchmarks.h"
#include "bench/data_sets.h"
#include "bench/loaded_extension.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

namespace {

constexpr char kAccountsFlag[] = "--accounts=";

bool gFailed = false;

std::vector<size_t> ParseCounts(const char* list)
{
    std::vector<size_t> counts;
    std::istringstream stream(list);
    for (std::string item; std::getline(stream, item, ',');)
        counts.push_back(std::stoul(item));
    return counts;
}

// Takes --accounts out of the arguments, so that Google Benchmark never sees it.
std::vector<size_t> TakeAccountCounts(int& argc, char** argv)
{
    std::vector<size_t> counts = {1000, 10000, 100000};
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], kAccountsFlag, strlen(kAccountsFlag)) == 0)
            counts = ParseCounts(argv[i] + strlen(kAccountsFlag));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return counts;
}

} // namespace

void FailBenchmark(benchmark::State& state, const char* why)
{
    gFailed = true;
    state.SkipWithError(why);
}

bool AnyBenchmarkFailed()
{
    return gFailed;
}

int main(int argc, char** argv)
{
    std::vector<size_t> counts = TakeAccountCounts(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    CreateDataSets(counts);
    RegisterRequestBenchmarks(counts);
    RegisterAliasReaderBenchmark(counts);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    UnloadExtension();
    RemoveDataSets();
    return AnyBenchmarkFailed() ? 1 : 0;
}
