#!/bin/sh
# Builds every fuzz target against libFuzzer with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, for fuzzing by hand (Debian: clang, libclang-rt-dev):
#
#   fuzz/build-with-clang.sh
#   build/fuzz-clang/request_fuzz -max_total_time=120 fuzz-work/request fuzz/corpus/request
#
# The extension's code is built through the project's own CMake files, so
# that its source list stays in one place; only the fuzz targets are linked here.
set -eu
cd "$(dirname "$0")/.."
out=build/fuzz-clang
sanitizers=address,undefined

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,$sanitizers -fno-sanitize-recover=undefined" \
    -DBUILD_TESTING=OFF -DTESSALINE_BENCHMARKS=OFF >/dev/null
cmake --build "$out" --target tessaline_core tessaline_platform

for target in base64 percent_decoding request alias_table profile registry code_pages; do
    clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,$sanitizers -fno-sanitize-recover=undefined \
        fuzz/${target}_fuzz.cpp fuzz/fuzz_failure.cpp tests/fake_host.cpp tests/fake_user_library.cpp \
        tests/commands/alias_table.cpp \
        "$out/libtessaline_core.a" "$out/platform/libtessaline_platform.a" -ldl \
        -o "$out/${target}_fuzz" &
done
wait
echo "fuzz targets in $out"
