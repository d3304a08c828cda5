#include "devkit/host/connection_tracker.h"

ConnectionTracker::Registration::Registration(ConnectionTracker& tracker, CloseIfIdle closeIfIdle)
    : tracker_(tracker), entry_(tracker.connections_.insert(tracker.connections_.end(), std::move(closeIfIdle)))
{
}

ConnectionTracker::Registration::~Registration()
{
    tracker_.connections_.erase(entry_);
}

void ConnectionTracker::Stop()
{
    stopping_ = true;
    for (const CloseIfIdle& closeIfIdle : connections_)
        closeIfIdle();
}
