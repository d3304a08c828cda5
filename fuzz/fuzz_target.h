// The one function every fuzz target defines: libFuzzer's entry point, which
// the replay driver also calls for each saved input.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A broken invariant: reported on stderr, then the process aborts so that the
// fuzzer keeps the input and the replay test fails.
[[noreturn]] void FuzzFailure(const char* what);
