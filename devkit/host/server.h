// The listeners, HTTPS and plain HTTP when asked for, one of each on every
// network thread; each accepted connection becomes a session on the thread
// that accepted it.
#pragma once

#include "devkit/host/connection_tracker.h"
#include "devkit/host/network_thread.h"
#include "devkit/host/options.h"
#include "devkit/host/session.h"

#include <boost/asio/io_context.hpp>

#include <memory>
#include <vector>

class Server {
public:
    // Starts the network threads.
    Server(const Options& options, const ExtensionModule& extension, boost::asio::thread_pool& workers);

    // Binds the listeners, says on stderr where they listen, and starts accepting.
    void Start();
    // From any thread: stops accepting; connections end once their current
    // request is answered.
    void Stop();
    // Waits until every connection has ended and the network threads with them.
    void Join();

private:
    // One listening socket, on the network thread whose connections it accepts.
    struct Listener {
        Listener(NetworkThread& on, bool isHttps) : thread(on), acceptor(on.Io()), https(isHttps) {}
        NetworkThread& thread;
        boost::asio::ip::tcp::acceptor acceptor;
        bool https;
    };

    void OpenListeners(const ListenAddress& address, bool https);
    boost::asio::awaitable<void> Accept(Listener& listener);

    const Options& options_;
    boost::asio::ssl::context tls_;
    ConnectionTracker tracker_;
    AnswerBudget answerBudget_;
    HostContext host_;
    std::vector<std::unique_ptr<NetworkThread>> networkThreads_;
    // After the threads, so that the listeners go first: they are idle by
    // then, closed by Stop() or never started.
    std::vector<std::unique_ptr<Listener>> listeners_;
};
