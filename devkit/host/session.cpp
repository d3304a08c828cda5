#include "devkit/host/session.h"

#include "devkit/host/access_log.h"
#include "devkit/host/exchange.h"
#include "devkit/host/wiping_allocator.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/http/vector_body.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <cassert>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr std::uint32_t kHeaderLimit = 16 * 1024;

using TlsStream = beast::ssl_stream<beast::tcp_stream>;
// Every buffer that holds a request's bytes wipes them when it lets them go.
using ReadBuffer = beast::basic_flat_buffer<WipingAllocator<char>>;
using Parser = http::request_parser<http::vector_body<char, WipingAllocator<char>>, WipingAllocator<char>>;
using Message = Parser::value_type;

// The answer a failed read deserves: a status, or 0 when there is no one
// left to answer (the client went away, fell silent, or never spoke TLS).
unsigned StatusForReadError(const beast::error_code& error)
{
    if (error == http::error::header_limit || error == http::error::buffer_overflow)
        return 431;
    if (error == http::error::body_limit)
        return 413;
    if (error == http::error::end_of_stream || error == http::error::partial_message)
        return 0;
    return error.category() == http::make_error_code(http::error::bad_target).category() ? 400 : 0;
}

// The host's own answers are small and always end the connection. A 503
// names when to try again.
std::string HostResponse(unsigned status, bool withBody, std::chrono::seconds retryAfter)
{
    std::string reason(http::obsolete_reason(http::int_to_status(status)));
    std::string body = std::to_string(status) + " " + reason + "\r\n";
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nConnection: close\r\n";
    if (status == 503)
        response += "Retry-After: " + std::to_string(retryAfter.count()) + "\r\n";
    response += "\r\n";
    return withBody ? response + body : response;
}

// What the parser lets through and a server must not: the answer such a
// request's head deserves, or 0 when its framing is sound. A body whose end
// two parties could tell apart is how requests are smuggled past a proxy.
unsigned FramingStatus(const Message& head)
{
    const std::size_t hosts = head.count(http::field::host);
    if (hosts > 1 || (hosts == 0 && head.version() >= 11))
        return 400;
    const std::size_t codings = head.count(http::field::transfer_encoding);
    if (codings == 0)
        return 0;
    // Beside a Content-Length, or in HTTP/1.0, which has no transfer
    // codings, the body's end is in doubt.
    if (head.count(http::field::content_length) != 0 || head.version() < 11)
        return 400;
    // chunked is the one coding the host undoes; any other, alone or before
    // it, it does not implement.
    beast::string_view coding = head[http::field::transfer_encoding];
    while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t'))
        coding.remove_prefix(1);
    while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t'))
        coding.remove_suffix(1);
    return codings == 1 && beast::iequals(coding, "chunked") ? 0 : 501;
}

bool ExpectsContinue(const Parser& parser)
{
    return beast::iequals(parser.get()[http::field::expect], "100-continue");
}

std::string Text(beast::string_view text)
{
    return std::string(text.data(), text.size());
}

std::string PathOf(beast::string_view target)
{
    return Text(target.substr(0, target.find('?')));
}

std::string QueryOf(beast::string_view target)
{
    size_t mark = target.find('?');
    return mark == beast::string_view::npos ? std::string() : Text(target.substr(mark + 1));
}

// The threading rule, checked in debug builds: a Session, its stream, its
// read buffer and its parser belong to the network thread its socket was
// made on. The HttpRequest made from a parsed message crosses to a worker
// for one HttpExtensionProc call, together with the Exchange that serves it;
// meanwhile the session waits and touches neither, and the worker hands
// back the whole answer and returns to the pool before the network thread
// writes a byte of it.
template <class Stream>
class Session final {
public:
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

    template <class... StreamArguments>
    Session(HostContext& host, NetworkThread& network, tcp::socket&& socket,
            ConnectionTracker::Registration&& registration, StreamArguments&... arguments)
        : host_(host), network_(network), registration_(std::move(registration)),
          stream_(std::move(socket), arguments...), membership_(network, [this] {
              AssertOnNetworkThread();
              if (idle_)
                  Tcp().close();
          })
    {
        AssertOnNetworkThread();
        beast::error_code ignored;
        client_ = Tcp().socket().remote_endpoint(ignored).address().to_string(ignored);
        localPort_ = Tcp().socket().local_endpoint(ignored).port();
    }

    asio::awaitable<void> Serve()
    {
        // One deadline for the TLS handshake and the first request's head
        // together, so that a client cannot hold a slot by being slow at each.
        Tcp().expires_after(host_.headTimeout);
        // No co_await inside a condition here: GCC 12 has miscompiled this
        // function with one, resuming it at no valid point.
        bool open = !network_.Stopping();
        if (open)
            open = co_await Handshake();
        while (open && !network_.Stopping())
            open = co_await ServeOneRequest();
        co_await Close();
    }

private:
    void AssertOnNetworkThread() const
    {
        assert(network_.IsCurrent() && "a connection is touched only on the network thread it lives on");
    }

    beast::tcp_stream& Tcp() { return beast::get_lowest_layer(stream_); }

    asio::awaitable<bool> Handshake()
    {
        if constexpr (!kTls) {
            co_return true;
        } else {
            beast::error_code error;
            co_await stream_.async_handshake(asio::ssl::stream_base::server,
                                             asio::redirect_error(asio::use_awaitable, error));
            co_return !error;
        }
    }

    // True when the connection stays open for another request.
    asio::awaitable<bool> ServeOneRequest()
    {
        AssertOnNetworkThread();
        Parser parser;
        parser.header_limit(kHeaderLimit);
        // Lifted until the header is in, so that a declared length over the
        // limit is refused below with the request's method and path known.
        parser.body_limit(std::numeric_limits<std::uint64_t>::max());
        beast::error_code error;

        idle_ = true;
        co_await http::async_read_header(stream_, buffer_, parser, asio::redirect_error(asio::use_awaitable, error));
        idle_ = false;
        AccessRecord record{client_};
        auto started = std::chrono::steady_clock::now();
        if (error)
            co_return co_await Refuse(StatusForReadError(error), record, started);

        record.method = Text(parser.get().method_string());
        record.path = PathOf(parser.get().target());
        // Checked before the body is read, and before any 100 Continue, so a
        // body the host will not take is never sent.
        if (unsigned status = FramingStatus(parser.get()); status != 0)
            co_return co_await Refuse(status, record, started);
        if (parser.content_length().value_or(0) > host_.maxBody)
            co_return co_await Refuse(413, record, started);
        // Taken now: the parser adds a chunked body's trailer fields to the
        // same fields, and a trailer is never part of the request's header
        // section, nor shown to the extension.
        HttpRequest request = RequestHead(parser.get());
        const bool clientKeepsAlive = parser.get().keep_alive();
        parser.body_limit(host_.maxBody);
        if (ExpectsContinue(parser))
            co_await WriteAll(asio::buffer(std::string_view("HTTP/1.1 100 Continue\r\n\r\n")), error);

        Tcp().expires_after(host_.timeout);
        co_await http::async_read(stream_, buffer_, parser, asio::redirect_error(asio::use_awaitable, error));
        if (error)
            co_return co_await Refuse(StatusForReadError(error), record, started);
        Tcp().expires_never();
        request.body = std::move(parser.release().body());
        ForgetReadBytes();

        ExchangeOutcome outcome = co_await RunExtension(std::move(request));
        if (outcome.overBudget)
            co_return co_await Refuse(503, record, started);
        if (!outcome.answered)
            co_return co_await Refuse(500, record, started);

        record.status = outcome.status;
        const std::vector<asio::const_buffer> answer = outcome.answer.Buffers();
        co_await Deliver(answer, record);
        // Written whole, or never to be: either way its share of the budget goes back.
        outcome.answer.Release();
        record.elapsed = std::chrono::steady_clock::now() - started;
        WriteAccessLine(record);
        if (!record.delivered || !outcome.keepConnection || !clientKeepsAlive)
            co_return false;
        // The next request's head is due within the same span from now.
        Tcp().expires_after(host_.headTimeout);
        co_return true;
    }

    // Sends the host's own answer, if any, and ends the connection.
    asio::awaitable<bool> Refuse(unsigned status, AccessRecord& record,
                                 std::chrono::steady_clock::time_point started)
    {
        ForgetReadBytes();
        if (status == 0)
            co_return false;
        // Refused before the whole request was taken, except where the
        // extension's answer could not be: the rest may still be coming.
        lingering_ = status != 500 && status != 503;
        record.status = status;
        // A 503 comes of a full answer budget, and every answer held there
        // is written, or let go, within the write timeout: then to try again.
        const std::string response = HostResponse(status, record.method != "HEAD", host_.timeout);
        co_await Deliver(asio::buffer(response), record);
        record.elapsed = std::chrono::steady_clock::now() - started;
        WriteAccessLine(record);
        co_return false;
    }

    // The parser has consumed the request, but its bytes, the Authorization
    // header among them, stay in the buffer's storage: moving what the client
    // already sent of its next request to a fresh block wipes the old one.
    void ForgetReadBytes() { buffer_.shrink_to_fit(); }

    // Under the write timeout, so that a client that stops reading holds its
    // own connection only, and only for so long.
    template <class Buffers>
    asio::awaitable<void> Deliver(const Buffers& answer, AccessRecord& record)
    {
        beast::error_code error;
        record.bytes = co_await WriteAll(answer, error);
        record.delivered = !error;
    }

    template <class Buffers>
    asio::awaitable<std::size_t> WriteAll(const Buffers& bytes, beast::error_code& error)
    {
        AssertOnNetworkThread();
        Tcp().expires_after(host_.timeout);
        co_return co_await asio::async_write(stream_, bytes, asio::redirect_error(asio::use_awaitable, error));
    }

    // The request goes to a worker and its answer comes back; the request's
    // copies of header and body are wiped when this returns, before the
    // answer is written.
    asio::awaitable<ExchangeOutcome> RunExtension(HttpRequest request)
    {
        ExchangeOutcome outcome;
        co_await asio::co_spawn(
            host_.workers,
            [&]() -> asio::awaitable<void> {
                assert(host_.workers.get_executor().running_in_this_thread() &&
                       "HttpExtensionProc is called on a worker thread, never a network thread");
                Exchange exchange(request, host_.readAhead, host_.root, host_.answerBudget);
                outcome = exchange.Run(host_.extension);
                co_return;
            },
            asio::use_awaitable);
        AssertOnNetworkThread();
        co_return outcome;
    }

    // Everything but the body, which is read after it.
    HttpRequest RequestHead(const Message& head)
    {
        AssertOnNetworkThread();
        HttpRequest request;
        request.method = Text(head.method_string());
        request.path = PathOf(head.target());
        request.query = QueryOf(head.target());
        for (const auto& field : head)
            request.headers.emplace_back(Text(field.name_string()), ToWipedBytes({field.value().data(), field.value().size()}));
        request.remoteAddress = client_;
        request.localPort = localPort_;
        request.https = kTls;
        return request;
    }

    // A TLS client is told the session ends; then the connection closes.
    // Counted as idle, so that a client slow to acknowledge does not hold up shutdown.
    asio::awaitable<void> Close()
    {
        AssertOnNetworkThread();
        idle_ = true;
        beast::error_code error;
        if constexpr (kTls) {
            if (Tcp().socket().is_open()) {
                // The host's close_notify goes out, and the connection closes
                // without waiting for the client's: the answer is complete,
                // and TLS asks no more of the side that closes.
                SSL_set_shutdown(stream_.native_handle(), SSL_RECEIVED_SHUTDOWN);
                Tcp().expires_after(host_.timeout);
                co_await stream_.async_shutdown(asio::redirect_error(asio::use_awaitable, error));
            }
        }
        if (lingering_ && Tcp().socket().is_open())
            co_await DropUnreadRequest();
        if (Tcp().socket().is_open())
            Tcp().socket().shutdown(tcp::socket::shutdown_both, error);
        Tcp().close();
    }

    // Closing a socket that holds unread bytes resets the connection, and the
    // reset can destroy the host's answer before the client has read it. So,
    // as lingering servers do, the host stops sending and drops what still
    // comes until the client closes, falls silent, or the limit passes.
    asio::awaitable<void> DropUnreadRequest()
    {
        constexpr auto kSilence = std::chrono::seconds(1);
        constexpr auto kLimit = std::chrono::seconds(5);
        beast::error_code error;
        Tcp().socket().shutdown(tcp::socket::shutdown_send, error);
        std::array<char, 4096> dropped;
        const auto end = std::chrono::steady_clock::now() + kLimit;
        while (!error && std::chrono::steady_clock::now() < end) {
            Tcp().expires_after(kSilence);
            co_await Tcp().async_read_some(asio::buffer(dropped), asio::redirect_error(asio::use_awaitable, error));
        }
        // They may hold the request's credentials.
        explicit_bzero(dropped.data(), dropped.size());
    }

    HostContext& host_;
    NetworkThread& network_;
    ConnectionTracker::Registration registration_;
    Stream stream_;
    ReadBuffer buffer_;
    std::string client_;
    unsigned short localPort_ = 0;
    bool idle_ = true;
    bool lingering_ = false;
    // Last, so that shutdown stops seeing the connection before any of it goes.
    NetworkThread::Membership membership_;
};

} // namespace

asio::awaitable<void> ServeHttps(tcp::socket socket, asio::ssl::context& tls, HostContext& host,
                                 NetworkThread& network, ConnectionTracker::Registration registration)
{
    Session<TlsStream> session(host, network, std::move(socket), std::move(registration), tls);
    co_await session.Serve();
}

asio::awaitable<void> ServePlainHttp(tcp::socket socket, HostContext& host, NetworkThread& network,
                                     ConnectionTracker::Registration registration)
{
    Session<beast::tcp_stream> session(host, network, std::move(socket), std::move(registration));
    co_await session.Serve();
}
