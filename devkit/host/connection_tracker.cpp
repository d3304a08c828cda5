#include "devkit/host/connection_tracker.h"

#include <utility>

ConnectionTracker::Registration::Registration(ConnectionTracker& tracker, const boost::asio::ip::address& client)
    : tracker_(&tracker), client_(client)
{
}

ConnectionTracker::Registration::Registration(Registration&& other) noexcept
    : tracker_(std::exchange(other.tracker_, nullptr)), client_(std::move(other.client_))
{
}

ConnectionTracker::Registration::~Registration()
{
    if (tracker_)
        tracker_->Release(client_);
}

std::optional<ConnectionTracker::Registration> ConnectionTracker::Admit(const boost::asio::ip::address& client)
{
    std::lock_guard lock(mutex_);
    std::size_t& held = perClient_[client];
    if (open_ >= limit_ || held >= perClientLimit_) {
        if (held == 0)
            perClient_.erase(client);
        return std::nullopt;
    }
    ++held;
    ++open_;
    return Registration(*this, client);
}

void ConnectionTracker::Release(const boost::asio::ip::address& client)
{
    std::lock_guard lock(mutex_);
    auto held = perClient_.find(client);
    if (--held->second == 0)
        perClient_.erase(held);
    --open_;
}
