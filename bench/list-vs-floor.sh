#!/bin/sh
# A list request against its floor, in time and in instructions, and the heap
# of one list request, on the generated server of bench/generated_server.h:
#
#   bench/list-vs-floor.sh [BUILD_DIR] [ACCOUNTS...]
#
# BUILD_DIR is a linux-preset build with list_floor_bench and list_heap_probe
# built (default build/linux); ACCOUNTS default to 10000 100000 1000000.
# Instructions come from callgrind (valgrind), counted inside one list
# request and one floor pass; an auth request's instructions are counted
# too, less those spent in the user library and the host.
#
# The times depend on whether a repetition finds the pages of its large
# buffers still mapped from the one before, which glibc decides as blocks
# come and go; on a virtual machine a page fault costs microseconds, and a
# change in the sizes of the list's blocks alone can move list / floor by a
# whole unit. To compare two builds, fix the heap's behaviour for both:
#   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=524288
#       maps every block of 512 KiB or more afresh, as the Windows heap does
#       with its large blocks: page faults count, in list and floor alike;
#   GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=4294967295
#       keeps every page mapped: the processor's work alone.
set -eu
build=${1:-build/linux}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- 10000 100000 1000000
bin="$build/bench"
repository=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

list=$(echo "$@" | tr ' ' ',')
echo "== time: median of 5 rounds, list and floor interleaved"
"$bin/list_floor_bench" --accounts="$list" --repetitions=5
echo "== heap of one list request"
"$bin/list_heap_probe" --accounts="$list"

# Instructions inside the function named, from callgrind's totals.
instructions() { # accounts what function
    out="$work/$2.$1"
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect="*$3*" "$bin/list_floor_bench" --accounts="$1" --once="$2" >/dev/null 2>&1
    sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$out"
}

echo "== instructions (callgrind)"
for n in "$@"; do
    l=$(instructions "$n" list OneRequest)
    f=$(instructions "$n" floor OneFloorPass)
    awk -v n="$n" -v l="$l" -v f="$f" 'BEGIN {
        printf "%9d accounts  list %6.0f instructions/account  floor %6.0f instructions/account  list/floor %.2f\n",
               n, l / n, f / n, l / f }'
done

# The extension's own share of one auth request: the instructions spent in
# functions of the project's own sources, the benchmark's host and stand-in
# library left out, as are the C and C++ runtimes.
instructions 1000 auth OneRequest >/dev/null
callgrind_annotate --auto=no --inclusive=no --threshold=100 "$work/auth.1000" | awk -v root="$repository/" '
    /file:function/ { listing = 1; next }
    listing && /^ *[0-9,]+ / {
        count = $1; gsub(",", "", count); total += count
        if (index($0, root) && !index($0, root "bench/")) own += count
    }
    END { printf "auth request: %d instructions, %d of them in the extension'"'"'s own code\n", total, own }'
