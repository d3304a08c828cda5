#!/bin/sh
# A fuzzing campaign of one target, by hand, after fuzz/build-with-clang.sh:
#
#   fuzz/campaign.sh TARGET [EXECUTIONS] [SECONDS]
#
# Runs until either limit (default 10 million executions, no time limit),
# keeping its growing corpus in build/fuzz-work/TARGET, so that a campaign
# goes on where the last one stopped; then merges into fuzz/corpus/TARGET,
# which CI replays, only the inputs that reach code its inputs do not: the
# named seeds stay. A crash leaves its input in build/fuzz-work/ as crash-*:
# make it a test.
set -eu
cd "$(dirname "$0")/.."
target=$1
executions=${2:-10000000}
seconds=${3:-0}
fuzzer=build/fuzz-clang/${target}_fuzz
work=build/fuzz-work/$target
mkdir -p "$work"

"$fuzzer" -runs="$executions" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz-work/ "$work" fuzz/corpus/"$target" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|==.*ERROR|SUMMARY)'

"$fuzzer" -merge=1 fuzz/corpus/"$target" "$work" >/dev/null 2>&1
echo "fuzz/corpus/$target: $(ls fuzz/corpus/"$target" | wc -l) inputs"
