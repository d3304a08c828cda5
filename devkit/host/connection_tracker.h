// The open connections: a cap on their number, and at shutdown the way to
// close those that are not in the middle of a request. Used from the network
// thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <list>

class ConnectionTracker {
public:
    using CloseIfIdle = std::function<void()>;

    // Keeps a connection counted while it lives.
    class Registration {
    public:
        Registration(ConnectionTracker& tracker, CloseIfIdle closeIfIdle);
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;

    private:
        ConnectionTracker& tracker_;
        std::list<CloseIfIdle>::iterator entry_;
    };

    explicit ConnectionTracker(std::size_t limit) : limit_(limit) {}

    bool Full() const { return connections_.size() >= limit_; }
    bool Stopping() const { return stopping_; }
    // From now on every connection ends after its current request; idle ones end now.
    void Stop();

private:
    std::size_t limit_;
    std::list<CloseIfIdle> connections_;
    bool stopping_ = false;
};
