// A heap buffer for text that may hold a password: it is overwritten with
// zeros over its whole length before it is freed, however its scope ends.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <memory>

template <class Unit>
class WipedBuffer {
public:
    // Zero-filled.
    explicit WipedBuffer(size_t count) : units_(new Unit[count]()), count_(count) {}
    ~WipedBuffer() { WipeBytes(units_.get(), count_ * sizeof(Unit)); }
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    Unit* get() { return units_.get(); }
    size_t count() const { return count_; }

private:
    std::unique_ptr<Unit[]> units_;
    size_t count_;
};
