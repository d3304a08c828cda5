// Which call into the user library is in progress, kept where the doctor's
// parent process can still read it after the library has crashed, hung or
// ended the diagnosis process.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Lives in memory shared with the parent; written by the diagnosis process
// alone, without a system call, so that list's loop over a million accounts
// pays a few stores per call and no more.
struct CallRecord {
    // The call in progress (see CallName), or kNoCall.
    std::atomic<uint32_t> call{0};
    // Calls begun so far: the parent tells a call that lasts from a new one.
    std::atomic<uint64_t> begun{0};
    // Whether the extension's load had finished when the call began: a
    // library that ends the process after that still lets the extension load.
    std::atomic<bool> loaded{false};
};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "a record shared between processes takes no lock");

constexpr uint32_t kNoCall = 0;

// The call's name as the extension makes it: an entry point, or the loading
// and unloading that run the library's own initialisation and clean-up.
std::string CallName(uint32_t call);

// From now on, the entry points that the extension binds, and its loading
// and unloading of the library, note each call in the record as it runs.
void RecordLibraryCalls(CallRecord& record);
