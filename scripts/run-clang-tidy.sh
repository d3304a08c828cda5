#!/bin/sh
# Runs clang-tidy, with the checks of .clang-tidy, over the sources of the
# extension, its platform layer, the doctor and the development host, as the
# Linux build compiles them; one file per process, as many at once as there
# are cores. Any finding fails the run.
#
#   scripts/run-clang-tidy.sh [BUILD_DIR]
#
# BUILD_DIR is a configured linux-preset build (default build/linux), whose
# compile_commands.json names the files and their flags.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/linux}
root=$PWD
[ -f "$build/compile_commands.json" ] || { echo "run-clang-tidy: no $build/compile_commands.json" >&2; exit 1; }

files=$(/usr/bin/python3 - "$build/compile_commands.json" "$root" <<'PY'
import json, os, sys
commands, root = sys.argv[1:3]
areas = ("extension/", "userlib/", "request/", "commands/", "platform/", "doctor/", "devkit/host/")
files = set()
for entry in json.load(open(commands)):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if path.startswith(areas):
        files.add(path)
print("\n".join(sorted(files)))
PY
)
count=$(echo "$files" | wc -l)
started=$(date +%s)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
# Boost.Asio does not recognise clang 14 with libstdc++ as supporting
# coroutines, which GCC compiles the development host with.
echo "$files" | xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet \
    --extra-arg=-DBOOST_ASIO_HAS_CO_AWAIT --extra-arg=-DBOOST_ASIO_HAS_STD_COROUTINE >"$log" 2>&1 || status=$?
findings=$(grep -c ': \(warning\|error\): ' "$log" || true)
[ "$status" -eq 0 ] || cat "$log"
echo "run-clang-tidy: $count files, $findings findings, $(( $(date +%s) - started )) s"
exit "$status"
