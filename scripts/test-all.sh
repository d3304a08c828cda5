#!/bin/sh
# Builds and tests every preset: Linux, Linux with sanitizers, Windows x64
# under Wine; the concurrent-request tests also under ThreadSanitizer.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh

for preset in linux linux-asan; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j "$(nproc)"
done

# Static analysis of the sources as the Linux build compiles them.
scripts/run-clang-tidy.sh build/linux

# The concurrent-request tests once more, under ThreadSanitizer.
cmake --preset linux-tsan
cmake --build --preset linux-tsan
ctest --preset linux-tsan

# One warm Wine server for the whole Windows run; its prefix lives in the build tree.
cmake --preset windows-x64
cmake --build --preset windows-x64
TESSALINE_WINEPREFIX="$PWD/build/windows-x64/wineprefix"
export TESSALINE_WINEPREFIX WINEPREFIX="$TESSALINE_WINEPREFIX" WINEDEBUG=-all
# Started apart from ctest, so that no Wine service holds a test's output open.
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --preset windows-x64 -j "$(nproc)"
scripts/check-reproducible.sh
