// One client connection: reads its requests, hands each to the extension on
// a worker thread, writes the answer the worker hands back, and sends the
// host's own answer when the request never reaches the extension or the
// extension leaves it unanswered. A connection and everything it reads
// belong to its network thread; see session.cpp for what crosses to a worker.
#pragma once

#include "devkit/host/answer_budget.h"
#include "devkit/host/connection_tracker.h"
#include "devkit/host/extension_module.h"
#include "devkit/host/network_thread.h"

// Boost 1.74's awaitable.hpp uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <cstddef>
#include <string>

// What every connection shares, on whichever network thread it lives.
struct HostContext {
    const ExtensionModule& extension;
    boost::asio::thread_pool& workers;
    AnswerBudget& answerBudget;
    std::size_t readAhead;
    std::size_t maxBody;
    std::chrono::seconds headTimeout;
    std::chrono::seconds timeout;
    // The directory that lpszPathTranslated is rooted in.
    std::string root;
};

// Both run on the network thread the socket was made on, until the connection ends.
boost::asio::awaitable<void> ServeHttps(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
                                        HostContext& host, NetworkThread& network,
                                        ConnectionTracker::Registration registration);
boost::asio::awaitable<void> ServePlainHttp(boost::asio::ip::tcp::socket socket, HostContext& host,
                                            NetworkThread& network, ConnectionTracker::Registration registration);
