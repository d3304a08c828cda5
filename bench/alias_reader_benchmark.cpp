// The alias file reader alone, one alias per account: reading into the
// index that every list request builds first.
#include "bench/benchmarks.h"
#include "bench/data_sets.h"
#include "commands/alias_index.h"

#include <filesystem>

namespace {

void IndexAliasFile(benchmark::State& state)
{
    const ServerData& data = DataSet(static_cast<size_t>(state.range(0)));
    const char* path = data.aliasFile.c_str();
    if (AliasIndex(ReadAliasText(path)).Count() != data.accounts)
        return FailBenchmark(state, "the alias file did not give one entry per account");

    for (auto _ : state) {
        AliasIndex index(ReadAliasText(path));
        benchmark::DoNotOptimize(index.Count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
    state.counters["per_alias"] = benchmark::Counter(static_cast<double>(data.accounts),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

} // namespace

void RegisterAliasReaderBenchmark(const std::vector<size_t>& accountCounts)
{
    for (size_t accounts : accountCounts) {
        benchmark::RegisterBenchmark("index_alias_file", IndexAliasFile)
            ->Arg(static_cast<int64_t>(accounts))
            ->Unit(benchmark::kMicrosecond);
    }
}
