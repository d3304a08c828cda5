#include "devkit/host/connection_tracker.h"

#include <utility>

ConnectionTracker::Registration::Registration(ConnectionTracker& tracker, std::list<Entry>::iterator entry)
    : tracker_(&tracker), entry_(entry)
{
}

ConnectionTracker::Registration::Registration(Registration&& other) noexcept
    : tracker_(std::exchange(other.tracker_, nullptr)), entry_(other.entry_)
{
}

ConnectionTracker::Registration::~Registration()
{
    if (tracker_)
        tracker_->Release(entry_);
}

void ConnectionTracker::Registration::OnStop(CloseIfIdle closeIfIdle)
{
    entry_->closeIfIdle = std::move(closeIfIdle);
}

std::optional<ConnectionTracker::Registration> ConnectionTracker::Admit(const boost::asio::ip::address& client)
{
    std::size_t& held = perClient_[client];
    if (connections_.size() >= limit_ || held >= perClientLimit_) {
        if (held == 0)
            perClient_.erase(client);
        return std::nullopt;
    }
    ++held;
    return Registration(*this, connections_.insert(connections_.end(), {client, nullptr}));
}

void ConnectionTracker::Release(std::list<Registration::Entry>::iterator entry)
{
    auto held = perClient_.find(entry->client);
    if (--held->second == 0)
        perClient_.erase(held);
    connections_.erase(entry);
}

void ConnectionTracker::Stop()
{
    stopping_ = true;
    for (const Registration::Entry& connection : connections_)
        if (connection.closeIfIdle)
            connection.closeIfIdle();
}
