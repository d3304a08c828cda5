// Bytes that held a password or credentials are overwritten with zeros
// before they are let go, by calls the compiler may not drop as dead stores.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <memory>
#include <string>

#ifdef _WIN32
inline void WipeBytes(void* bytes, size_t count) { SecureZeroMemory(bytes, count); }
#else
inline void WipeBytes(void* bytes, size_t count) { explicit_bzero(bytes, count); }
#endif

// The whole capacity: a short string keeps its bytes inside the object, and
// a moved-from one may still hold them.
inline void WipeString(std::string& text)
{
    WipeBytes(text.data(), text.capacity());
}

// Wipes a buffer on the stack however its scope ends.
class WipedOnExit {
public:
    WipedOnExit(void* bytes, size_t size) : bytes_(bytes), size_(size) {}
    ~WipedOnExit() { WipeBytes(bytes_, size_); }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
    void* bytes_;
    size_t size_;
};

// A zero-filled heap buffer, wiped over its whole length before it is freed,
// however its scope ends.
template <class Unit>
class WipedBuffer {
public:
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
