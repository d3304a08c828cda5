// An answer's body in pieces that never move once allocated.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>

// WriteClient takes a 32-bit count: no answer's body may be longer.
constexpr uint64_t kLargestBody = UINT32_MAX;

// A fixed text, its length known when compiled, written at out; returns
// where it ends.
template <size_t N>
char* Put(char* out, const char (&text)[N])
{
    memcpy(out, text, N - 1);
    return out + N - 1;
}

// When one piece fills, the next holds a quarter of all before it. A body of
// any size takes a handful of allocations and about a quarter again its
// size, no byte is copied to make room, and bytes written stay where they are.
class BodyPieces {
public:
    // The size of the first piece, set before anything is written.
    void StartWith(size_t firstSize) { firstSize_ = firstSize; }

    template <size_t N>
    void Append(const char (&text)[N])
    {
        end_ = Put(Room(N - 1), text);
    }

    // Where the next count bytes go; Commit says how far they went.
    char* Room(size_t count)
    {
        if (static_cast<size_t>(limit_ - end_) < count)
            StartPiece(count);
        return end_;
    }

    void Commit(char* end) { end_ = end; }

    size_t Size() const { return filled_ + static_cast<size_t>(end_ - pieceStart_); }

    std::span<const std::string_view> Pieces()
    {
        if (count_ > 0)
            views_[count_ - 1] = {pieceStart_, static_cast<size_t>(end_ - pieceStart_)};
        return {views_, count_};
    }

private:
    // Growing by a quarter of the whole, from at least 64 KiB, the pieces
    // pass the largest body after some fifty of them.
    void StartPiece(size_t count)
    {
        if (count_ == kMostPieces)
            throw std::length_error("answer body");
        size_t size = std::max(count, count_ == 0 ? firstSize_ : Size() / 4);
        if (count_ > 0)
            views_[count_ - 1] = {pieceStart_, static_cast<size_t>(end_ - pieceStart_)};
        filled_ = Size();
        pieces_[count_] = std::make_unique_for_overwrite<char[]>(size);
        pieceStart_ = end_ = pieces_[count_].get();
        limit_ = end_ + size;
        ++count_;
    }

    static constexpr size_t kMostPieces = 64;
    size_t firstSize_ = 0;
    std::unique_ptr<char[]> pieces_[kMostPieces];
    std::string_view views_[kMostPieces];
    size_t count_ = 0;
    size_t filled_ = 0; // in the pieces before this one
    char* pieceStart_ = nullptr;
    char* end_ = nullptr;
    char* limit_ = nullptr;
};
