#include "devkit/host/network_thread.h"

#include <boost/asio/post.hpp>

#include <cassert>

NetworkThread::Membership::Membership(NetworkThread& thread, CloseIfIdle closeIfIdle)
    : thread_(thread), entry_(thread.connections_.insert(thread.connections_.end(), std::move(closeIfIdle)))
{
    assert(thread_.IsCurrent() && "a connection joins the list of the network thread it lives on");
}

NetworkThread::Membership::~Membership()
{
    assert(thread_.IsCurrent() && "a connection leaves the list of the network thread it lives on");
    thread_.connections_.erase(entry_);
}

NetworkThread::NetworkThread()
    : keepRunning_(io_.get_executor()), thread_([this] { io_.run(); })
{
}

NetworkThread::~NetworkThread()
{
    Stop();
    Join();
}

bool NetworkThread::Stopping() const
{
    assert(IsCurrent() && "a network thread's stopping mark is read on that thread");
    return stopping_;
}

void NetworkThread::Stop()
{
    // Done on the thread itself, after whatever it is running now: a
    // connection either sees the mark before it waits for its next request,
    // or is found waiting, idle, and closed.
    boost::asio::post(io_, [this] {
        stopping_ = true;
        for (const CloseIfIdle& closeIfIdle : connections_)
            closeIfIdle();
        keepRunning_.reset();
    });
}

void NetworkThread::Join()
{
    if (thread_.joinable())
        thread_.join();
}
