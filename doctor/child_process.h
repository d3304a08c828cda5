// The process of its own in which the doctor calls the user library, started
// from the doctor itself: one implementation per system
// (child_process_linux.cpp, child_process_windows.cpp).
#pragma once

#include "doctor/library_calls.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The child's side: what it sends to its parent, and the record of the call
// in progress, which the parent reads.
class ParentLink {
public:
    virtual ~ParentLink() = default;
    virtual void Send(const std::string& bytes) = 0;
    virtual CallRecord& Record() = 0;
};

// How the child ended.
struct ChildEnd {
    enum class How { kExited, kSignal, kException, kStopped };
    How how = How::kExited;
    unsigned long code = 0; // exit status, signal number or exception code
    // The call into the user library in progress then, or kNoCall, and
    // whether the extension's load had finished when that call began.
    uint32_t call = kNoCall;
    bool loaded = false;
};

// Runs body in a child process whose standard output is the doctor's
// standard error, and hands what the child sends to received as it arrives.
// A call into the user library that runs longer than timeoutSeconds gets the
// child killed (kStopped). On Linux the child is a fork that runs body; on
// Windows it is this program started again with an internal argument, whose
// main passes the link that LinkToParent gives to the same body.
ChildEnd RunChildProcess(unsigned timeoutSeconds, const std::function<int(ParentLink&)>& body,
                         const std::function<void(const char*, size_t)>& received);

// In a child that RunChildProcess started on Windows: takes the internal
// argument off the arguments and returns the link to the parent. Otherwise,
// and always on Linux, nullptr.
std::unique_ptr<ParentLink> LinkToParent(std::vector<std::string>& arguments);
