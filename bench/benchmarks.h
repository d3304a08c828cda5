// What each benchmark file registers, at the account counts chosen on the
// command line, and how a benchmark that cannot measure makes the run fail.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

void RegisterRequestBenchmarks(const std::vector<size_t>& accountCounts);
void RegisterAliasReaderBenchmark(const std::vector<size_t>& accountCounts);

// Google Benchmark exits 0 even when a benchmark skipped with an error; this
// records it, so that the smoke test fails.
void FailBenchmark(benchmark::State& state, const char* why);
bool AnyBenchmarkFailed();
