// One of the threads that carry the connections. A connection, its TLS
// included, lives on one network thread from its accept to its close, and
// only that thread touches it or the thread's list of its connections;
// debug builds check this rule. Each network thread has an io_context of
// its own, so that the threads share no queue and no lock.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <functional>
#include <list>
#include <thread>

class NetworkThread {
public:
    using CloseIfIdle = std::function<void()>;

    // Keeps a connection on its network thread's list while it lives, so
    // that shutdown can close it when it is idle. Made and destroyed on that thread.
    class Membership {
    public:
        Membership(NetworkThread& thread, CloseIfIdle closeIfIdle);
        Membership(const Membership&) = delete;
        Membership& operator=(const Membership&) = delete;
        ~Membership();

    private:
        NetworkThread& thread_;
        std::list<CloseIfIdle>::iterator entry_;
    };

    // Starts the thread; it runs until Stop() and the end of its last connection.
    NetworkThread();
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;
    // Stops the thread, if no one has, and waits for it to end.
    ~NetworkThread();

    boost::asio::io_context& Io() { return io_; }
    bool IsCurrent() const { return executor_.running_in_this_thread(); }
    // Whether the connections are to end after their current request. On this thread only.
    bool Stopping() const;
    // From any thread: idle connections close at once, the others after their current request.
    void Stop();
    // Waits until the thread has ended.
    void Join();

private:
    boost::asio::io_context io_{1};
    const boost::asio::io_context::executor_type executor_ = io_.get_executor();
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning_;
    std::list<CloseIfIdle> connections_;
    bool stopping_ = false;
    std::thread thread_;
};
