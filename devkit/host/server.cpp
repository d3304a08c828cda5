#include "devkit/host/server.h"

#include "devkit/host/certificate.h"
#include "devkit/host/private_files.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <cassert>
#include <filesystem>
#include <iostream>
#include <stdexcept>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kConnectionLimit = 256;
// After a failed accept, typically for want of file descriptors, open
// connections get a moment to end before the next try.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);

asio::ssl::context MakeTlsContext(const Options& options)
{
    CertificateFiles files = EnsureCertificate(options);
    asio::ssl::context tls(asio::ssl::context::tls_server);
    tls.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                    asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
    // OpenSSL otherwise keeps each decrypted record, credentials and all, in
    // its read buffer until the next one overwrites it.
    SSL_CTX_set_options(tls.native_handle(), SSL_OP_CLEANSE_PLAINTEXT);
    tls.use_certificate_chain_file(files.certificate);
    const bool madeByHost = options.key.empty();
    WipedBytes key = ReadPrivateKey(files.key, madeByHost ? "remove it, and the certificate beside it, to have a "
                                                            "new pair made"
                                                          : "give a key of your own");
    tls.use_private_key(asio::buffer(key.data(), key.size()), asio::ssl::context::pem);
    return tls;
}

std::string DirectoryOf(const std::string& path)
{
    return std::filesystem::absolute(path).parent_path().string();
}

tcp::endpoint EndpointOf(const ListenAddress& address)
{
    boost::system::error_code error;
    asio::ip::address ip = asio::ip::make_address(address.host, error);
    if (error)
        throw std::runtime_error("cannot listen on " + address.host + ": an IPv4 or IPv6 address is needed");
    return {ip, address.port};
}

// Every network thread listens on the same address, each with a socket of
// its own, and the kernel spreads the connections over them: a connection
// is accepted on the thread it will live on. The first socket takes the
// address asked for, a port of the system's choosing included; the others
// join it there.
using ReusePort = asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;

// Sockets that share a port would share it with another program's too, a
// second host's for one, and split the connections with it unnoticed: a
// port asked for by number is first bound alone, which fails while anyone
// listens there.
void CheckPortIsFree(asio::io_context& io, const tcp::endpoint& endpoint, const ListenAddress& address)
{
    if (endpoint.port() == 0)
        return;
    tcp::acceptor alone(io);
    boost::system::error_code error;
    alone.open(endpoint.protocol(), error);
    if (!error)
        alone.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error)
        alone.bind(endpoint, error);
    if (error)
        throw std::runtime_error("cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " +
                                 error.message());
}

void Listen(tcp::acceptor& acceptor, const tcp::endpoint& endpoint, const ListenAddress& address)
{
    try {
        acceptor.open(endpoint.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.set_option(ReusePort(true));
        acceptor.bind(endpoint);
        acceptor.listen(asio::socket_base::max_listen_connections);
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error("cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " +
                                 error.code().message());
    }
}

void SayWhereListening(const tcp::endpoint& bound, const char* scheme)
{
    std::string host = bound.address().to_string();
    if (bound.address().is_v6())
        host = "[" + host + "]";
    std::cerr << "isapi-devhost: listening on " << scheme << "://" << host << ":" << bound.port() << std::endl;
}

} // namespace

Server::Server(const Options& options, const ExtensionModule& extension, asio::thread_pool& workers)
    : options_(options), tls_(MakeTlsContext(options)), tracker_(kConnectionLimit, options.clientConnections),
      answerBudget_(options.answerBudget),
      host_{extension, workers, answerBudget_, options.readAhead, options.maxBody, options.headTimeout,
            options.timeout, DirectoryOf(options.extension)}
{
    for (unsigned i = 0; i < options.networkThreads; ++i)
        networkThreads_.push_back(std::make_unique<NetworkThread>());
}

void Server::Start()
{
    // Every listener is bound before any accepts, so that a listener that
    // cannot be bound leaves nothing running to undo.
    OpenListeners(options_.https, true);
    if (options_.http)
        OpenListeners(*options_.http, false);
    for (const std::unique_ptr<Listener>& listener : listeners_)
        asio::co_spawn(listener->thread.Io(), Accept(*listener), asio::detached);
}

void Server::OpenListeners(const ListenAddress& address, bool https)
{
    tcp::endpoint endpoint = EndpointOf(address);
    CheckPortIsFree(networkThreads_.front()->Io(), endpoint, address);
    for (const std::unique_ptr<NetworkThread>& thread : networkThreads_) {
        listeners_.push_back(std::make_unique<Listener>(*thread, https));
        Listener& listener = *listeners_.back();
        Listen(listener.acceptor, endpoint, address);
        endpoint = listener.acceptor.local_endpoint();
    }
    SayWhereListening(endpoint, https ? "https" : "http");
}

void Server::Stop()
{
    // Each listener closes on its own thread, before that thread's
    // connections learn that the host stops.
    for (const std::unique_ptr<Listener>& listener : listeners_) {
        asio::post(listener->thread.Io(), [&acceptor = listener->acceptor] {
            boost::system::error_code ignored;
            acceptor.close(ignored);
        });
    }
    for (const std::unique_ptr<NetworkThread>& thread : networkThreads_)
        thread->Stop();
}

void Server::Join()
{
    for (const std::unique_ptr<NetworkThread>& thread : networkThreads_)
        thread->Join();
}

asio::awaitable<void> Server::Accept(Listener& listener)
{
    NetworkThread& network = listener.thread;
    for (;;) {
        assert(network.IsCurrent() && "a listener belongs to the network thread it accepts for");
        boost::system::error_code error;
        tcp::socket socket = co_await listener.acceptor.async_accept(asio::redirect_error(asio::use_awaitable, error));
        if (!listener.acceptor.is_open())
            co_return;
        if (error) {
            asio::steady_timer pause(network.Io(), kAcceptRetryPause);
            co_await pause.async_wait(asio::use_awaitable);
            continue;
        }
        // Over the host's cap or the client's share the connection is closed
        // at once, unanswered. Counted here rather than when the session
        // starts, so that a burst of connections cannot slip past the count.
        tcp::endpoint client = socket.remote_endpoint(error);
        if (error)
            continue;
        std::optional<ConnectionTracker::Registration> registration = tracker_.Admit(client.address());
        if (!registration)
            continue;
        // The answer goes out in a few writes; Nagle's algorithm would hold
        // the last back until the client's delayed ACK.
        socket.set_option(tcp::no_delay(true), error);
        if (listener.https)
            asio::co_spawn(network.Io(), ServeHttps(std::move(socket), tls_, host_, network, std::move(*registration)),
                           asio::detached);
        else
            asio::co_spawn(network.Io(), ServePlainHttp(std::move(socket), host_, network, std::move(*registration)),
                           asio::detached);
    }
}
