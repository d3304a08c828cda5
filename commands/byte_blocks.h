// Sixteen bytes at a time, for the passes over an alias file and an answer
// that touch every byte. The compiler's vector types become the processor's
// vector instructions wherever it has them, and plain words where not.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using ByteBlock = unsigned char __attribute__((vector_size(16)));
// A comparison's answer: every bit of a byte set where it holds.
using ByteMask = signed char __attribute__((vector_size(16)));

constexpr size_t kBlockSize = sizeof(ByteBlock);

inline ByteBlock LoadBlock(const char* bytes)
{
    ByteBlock block;
    memcpy(&block, bytes, kBlockSize);
    return block;
}

inline void StoreBlock(char* bytes, ByteBlock block)
{
    memcpy(bytes, &block, kBlockSize);
}

inline ByteBlock EveryByte(unsigned char byte)
{
    return ByteBlock{} + byte;
}

// A-Z become a-z; every other byte stays.
inline ByteBlock LowerCased(ByteBlock block)
{
    ByteMask capital = (block - EveryByte('A')) < EveryByte(26);
    return block + (std::bit_cast<ByteBlock>(capital) & EveryByte('a' - 'A'));
}

// One bit for each byte of a comparison's answer, the first byte's lowest.
inline uint32_t BitsOf(ByteMask mask)
{
#ifdef __SSE2__
    return static_cast<uint32_t>(_mm_movemask_epi8(std::bit_cast<__m128i>(mask)));
#else
    uint32_t bits = 0;
    for (size_t lane = 0; lane < kBlockSize; ++lane)
        bits |= static_cast<uint32_t>(mask[lane] & 1) << lane;
    return bits;
#endif
}

// The bits of the first count bytes of a block, count at most a block.
inline uint32_t FirstBytes(size_t count)
{
    return static_cast<uint32_t>((uint64_t{1} << count) - 1);
}

inline size_t SumOfBytes(ByteBlock block)
{
    size_t sum = 0;
    for (size_t lane = 0; lane < kBlockSize; ++lane)
        sum += block[lane];
    return sum;
}

// Every bit set where the byte is; subtracted from a count of each lane, adds one.
inline ByteBlock Hits(ByteBlock block, unsigned char byte)
{
    return std::bit_cast<ByteBlock>(block == EveryByte(byte));
}
