// What the host holds of the answers that wait to be written. A worker
// collects an extension's whole answer before the connection's network
// thread writes it, and a client that does not read keeps it there until
// the write times out; one budget for all connections together bounds what
// such clients can make the host hold.
#pragma once

#include <boost/asio/buffer.hpp>

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class AnswerBudget {
public:
    explicit AnswerBudget(std::size_t bytes) : limit_(bytes) {}
    AnswerBudget(const AnswerBudget&) = delete;
    AnswerBudget& operator=(const AnswerBudget&) = delete;

    // From any thread: true when count more bytes fit, and they are then
    // counted; false, and nothing counted, when they would pass the budget.
    bool Take(std::size_t count);
    void Give(std::size_t count);

private:
    const std::size_t limit_;
    std::atomic<std::size_t> held_{0};
};

// One answer's bytes, kept in the pieces they were sent in, so that growing
// never copies them nor leaves room unused, and counted against the budget
// for as long as they are held.
class HeldAnswer {
public:
    HeldAnswer() = default;
    explicit HeldAnswer(AnswerBudget& budget) : budget_(&budget) {}
    HeldAnswer(HeldAnswer&& other) noexcept;
    HeldAnswer& operator=(HeldAnswer&& other) noexcept;
    ~HeldAnswer() { Release(); }

    // Adds the bytes when the budget, and the heap, have room for them; false otherwise.
    bool Append(std::string_view bytes);
    // Lets every byte go and gives its share back.
    void Release();

    std::size_t Size() const { return size_; }
    std::vector<boost::asio::const_buffer> Buffers() const;

private:
    AnswerBudget* budget_ = nullptr;
    std::vector<std::string> pieces_;
    std::size_t size_ = 0;
};
