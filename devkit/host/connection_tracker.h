// The open connections: a cap on their number in all and on the number one
// client address may hold, so that no single client can take every slot;
// and at shutdown the way to close those that are not in the middle of a
// request. Used from the network thread only.
#pragma once

#include <boost/asio/ip/address.hpp>

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <optional>

class ConnectionTracker {
public:
    using CloseIfIdle = std::function<void()>;

    // Keeps a connection counted while it lives.
    class Registration {
    public:
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&&) = delete;
        ~Registration();

        // How shutdown closes this connection when it is idle. Until this is
        // set, the connection is expected to look at Stopping() itself.
        void OnStop(CloseIfIdle closeIfIdle);

    private:
        friend class ConnectionTracker;
        struct Entry {
            boost::asio::ip::address client;
            CloseIfIdle closeIfIdle;
        };
        Registration(ConnectionTracker& tracker, std::list<Entry>::iterator entry);

        ConnectionTracker* tracker_;
        std::list<Entry>::iterator entry_;
    };

    ConnectionTracker(std::size_t limit, std::size_t perClientLimit) : limit_(limit), perClientLimit_(perClientLimit)
    {
    }

    // A registration for a new connection from this client, or none when the
    // host or that client already holds as many as it may.
    std::optional<Registration> Admit(const boost::asio::ip::address& client);
    bool Stopping() const { return stopping_; }
    // From now on every connection ends after its current request; idle ones end now.
    void Stop();

private:
    void Release(std::list<Registration::Entry>::iterator entry);

    std::size_t limit_;
    std::size_t perClientLimit_;
    std::list<Registration::Entry> connections_;
    std::map<boost::asio::ip::address, std::size_t> perClient_;
    bool stopping_ = false;
};
