// Storage for what may hold a caller's credentials (the Authorization header,
// the request body, the bytes read from the connection): every block is
// overwritten with zeros before it goes back to the heap, so that no freed
// memory keeps a password for the next owner of that block to find.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include <string.h>

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* block, std::size_t count) noexcept
    {
        // explicit_bzero, unlike memset, is never dropped as a dead store.
        explicit_bzero(block, count * sizeof(T));
        std::allocator<T>().deallocate(block, count);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept
    {
        return true;
    }
};

// A vector rather than a string: a short string keeps its characters inside
// the object itself, where no allocator sees them go.
using WipedBytes = std::vector<char, WipingAllocator<char>>;

inline WipedBytes ToWipedBytes(std::string_view text)
{
    return WipedBytes(text.begin(), text.end());
}

inline std::string_view ViewOf(const WipedBytes& bytes)
{
    return {bytes.data(), bytes.size()};
}
