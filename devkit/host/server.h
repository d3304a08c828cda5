// The listeners: HTTPS, and plain HTTP when asked for. Each accepted
// connection becomes a session on the network thread.
#pragma once

#include "devkit/host/connection_tracker.h"
#include "devkit/host/options.h"
#include "devkit/host/session.h"

#include <boost/asio/io_context.hpp>

#include <optional>

class Server {
public:
    Server(boost::asio::io_context& io, const Options& options, const ExtensionModule& extension,
           boost::asio::thread_pool& workers);

    // Binds the listeners, says on stderr where they listen, and starts accepting.
    void Start();
    // Stops accepting; connections end once their current request is answered.
    void Stop();

private:
    boost::asio::awaitable<void> Accept(boost::asio::ip::tcp::acceptor& acceptor, bool https);

    boost::asio::io_context& io_;
    const Options& options_;
    boost::asio::ssl::context tls_;
    ConnectionTracker tracker_;
    HostContext host_;
    boost::asio::ip::tcp::acceptor httpsAcceptor_;
    std::optional<boost::asio::ip::tcp::acceptor> httpAcceptor_;
};
