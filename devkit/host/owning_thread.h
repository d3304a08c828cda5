// The thread an object was made on, for the threading rules that debug
// builds check: `assert(owner_.IsCurrent() && "...")` in each method that
// only that thread may call. Release builds keep and check nothing.
#pragma once

#include <cassert>
#include <thread>

class OwningThread {
public:
#ifndef NDEBUG
    bool IsCurrent() const { return std::this_thread::get_id() == id_; }

private:
    std::thread::id id_ = std::this_thread::get_id();
#endif
};
