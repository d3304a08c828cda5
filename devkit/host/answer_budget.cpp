#include "devkit/host/answer_budget.h"

#include <new>
#include <utility>

bool AnswerBudget::Take(std::size_t count)
{
    std::size_t held = held_.load(std::memory_order_relaxed);
    do {
        if (count > limit_ - held)
            return false;
    } while (!held_.compare_exchange_weak(held, held + count, std::memory_order_relaxed));
    return true;
}

void AnswerBudget::Give(std::size_t count)
{
    held_.fetch_sub(count, std::memory_order_relaxed);
}

HeldAnswer::HeldAnswer(HeldAnswer&& other) noexcept
    : budget_(other.budget_), pieces_(std::move(other.pieces_)), size_(std::exchange(other.size_, 0))
{
}

HeldAnswer& HeldAnswer::operator=(HeldAnswer&& other) noexcept
{
    if (this != &other) {
        Release();
        budget_ = other.budget_;
        pieces_ = std::move(other.pieces_);
        other.pieces_.clear();
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool HeldAnswer::Append(std::string_view bytes)
{
    if (bytes.empty())
        return true;
    if (!budget_->Take(bytes.size()))
        return false;
    try {
        pieces_.emplace_back(bytes);
    } catch (const std::bad_alloc&) {
        // Called back from the extension, where no exception may go.
        budget_->Give(bytes.size());
        return false;
    }
    size_ += bytes.size();
    return true;
}

void HeldAnswer::Release()
{
    // swap, not clear: clear keeps the vector's own block.
    std::vector<std::string>().swap(pieces_);
    if (size_)
        budget_->Give(size_);
    size_ = 0;
}

std::vector<boost::asio::const_buffer> HeldAnswer::Buffers() const
{
    std::vector<boost::asio::const_buffer> buffers;
    buffers.reserve(pieces_.size());
    for (const std::string& piece : pieces_)
        buffers.emplace_back(piece.data(), piece.size());
    return buffers;
}
