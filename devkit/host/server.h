// The listeners, HTTPS and plain HTTP when asked for, on the accepting
// thread; each accepted connection becomes a session on one of the network
// threads, taken in turn.
#pragma once

#include "devkit/host/connection_tracker.h"
#include "devkit/host/network_thread.h"
#include "devkit/host/options.h"
#include "devkit/host/session.h"

#include <boost/asio/io_context.hpp>

#include <memory>
#include <optional>
#include <vector>

class Server {
public:
    // Accepts on the thread that runs acceptorIo; starts the network threads.
    Server(boost::asio::io_context& acceptorIo, const Options& options, const ExtensionModule& extension,
           boost::asio::thread_pool& workers);

    // Binds the listeners, says on stderr where they listen, and starts accepting.
    void Start();
    // On the accepting thread: stops accepting; connections end once their
    // current request is answered.
    void Stop();
    // Waits until every connection has ended and the network threads with them.
    void Join();

private:
    boost::asio::awaitable<void> Accept(boost::asio::ip::tcp::acceptor& acceptor, bool https);
    NetworkThread& NextNetworkThread();

    boost::asio::io_context& acceptorIo_;
    const Options& options_;
    boost::asio::ssl::context tls_;
    ConnectionTracker tracker_;
    HostContext host_;
    boost::asio::ip::tcp::acceptor httpsAcceptor_;
    std::optional<boost::asio::ip::tcp::acceptor> httpAcceptor_;
    std::vector<std::unique_ptr<NetworkThread>> networkThreads_;
    std::size_t nextNetworkThread_ = 0;
};
