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

// The padding rule. Code that goes a block at a time loads the whole block
// that starts at any byte of a value it reads, and stores a whole block at
// any byte it writes: up to a block less one byte past the value's end, or
// past the last byte it means to keep. So every buffer read or written that
// way holds kPadding bytes more than the longest value it may hold, and is
// sized through Padded(). The bytes of the padding are never part of an
// answer: a store there is overwritten by the next writer or left unused,
// and a load there only shows bytes that the mask of the value's own bytes
// drops.
constexpr size_t kPadding = kBlockSize;

constexpr size_t Padded(size_t length)
{
    return length + kPadding;
}

// The length rounded up to whole blocks: for a buffer that is read block by
// block from its start to its end, and never past it.
constexpr size_t WholeBlocks(size_t length)
{
    return (length + kBlockSize - 1) / kBlockSize * kBlockSize;
}

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

// A-Z become a-z; every other byte stays. Subtracting 'A' wraps every byte
// below it round to 0xBF and more, so one unsigned comparison finds the
// capitals, and each capital gains 'a' - 'A', 0x20:
//
//   block                 'K'   'i'   'm'   '@'   ...
//                         0x4B  0x69  0x6D  0x40
//   - 'A'                 0x0A  0x28  0x2C  0xFF
//   < 26: capital         0xFF  0x00  0x00  0x00
//   & 0x20                0x20  0x00  0x00  0x00
//   block + that          0x6B  0x69  0x6D  0x40   ("kim@")
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

// Every bit set where the byte is. As a number each hit is 0xFF, minus one
// in a lane's byte arithmetic, so subtracting hits from a block of counts
// adds one to the count of each lane that matched:
//
//   block                 'a'   '='   'b'   '\n'  ...
//   Hits(block, '=')      0x00  0xFF  0x00  0x00
//   counts                0x03  0x03  0x03  0x03
//   counts - hits         0x03  0x04  0x03  0x03
//
// A lane counts at most 255 hits before its count must be added up.
inline ByteBlock Hits(ByteBlock block, unsigned char byte)
{
    return std::bit_cast<ByteBlock>(block == EveryByte(byte));
}
