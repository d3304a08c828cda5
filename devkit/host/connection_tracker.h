// The open connections' count: a cap on their number in all and on the
// number one client address may hold, so that no single client can take
// every slot. Safe from any thread: each network thread admits and ends
// its own connections.
#pragma once

#include <boost/asio/ip/address.hpp>

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>

class ConnectionTracker {
public:
    // Keeps a connection counted while it lives.
    class Registration {
    public:
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&&) = delete;
        ~Registration();

    private:
        friend class ConnectionTracker;
        Registration(ConnectionTracker& tracker, const boost::asio::ip::address& client);

        ConnectionTracker* tracker_;
        boost::asio::ip::address client_;
    };

    ConnectionTracker(std::size_t limit, std::size_t perClientLimit) : limit_(limit), perClientLimit_(perClientLimit)
    {
    }

    // A registration for a new connection from this client, or none when the
    // host or that client already holds as many as it may.
    std::optional<Registration> Admit(const boost::asio::ip::address& client);

private:
    void Release(const boost::asio::ip::address& client);

    const std::size_t limit_;
    const std::size_t perClientLimit_;
    std::mutex mutex_;
    std::size_t open_ = 0;
    std::map<boost::asio::ip::address, std::size_t> perClient_;
};
