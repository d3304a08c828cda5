// The probe's exchanges over Beast and OpenSSL, one function per network
// step. Every step runs against a deadline (probe_transport.h), and the
// io_context itself is run no longer than the last of them, so that no
// endpoint, whatever it sends or withholds, can hold the probe.
#include "doctor/probe_transport.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <limits>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

// ALPN's wire format: each protocol name after its length.
constexpr unsigned char kHttp2AndHttp11[] = "\x02h2\x08http/1.1";
constexpr unsigned char kHttp11[] = "\x08http/1.1";
// The body is read through a buffer of this size, never held whole.
constexpr size_t kBodyPiece = size_t{64} * 1024;

struct Exchange {
    bool tls = false;
    bool verify = false;
    bool handshakeOnly = false;
    uint16_t port = 0;
    HttpRequest request;
    HttpAnswer* answer = nullptr;
    TlsFacts* facts = nullptr;
    Clock::time_point headDue;  // connected, shaken hands and the head read
    Clock::time_point wholeDue; // the whole answer read
    ExchangePart part = ExchangePart::kConnecting;
    bool finished = false;
    Connection result = Connection::kFailed;
    std::string error;
};

bool IsAddress(const std::string& host)
{
    error_code ec;
    asio::ip::make_address(host, ec);
    return !ec;
}

std::string HostHeader(const ProbeUrl& url, uint16_t port, bool tls)
{
    std::string host = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    if (port != (tls ? 443 : 80))
        host += ":" + std::to_string(port);
    return host;
}

long DaysUntil(const ASN1_TIME* time)
{
    int days = 0, seconds = 0;
    if (!ASN1_TIME_diff(&days, &seconds, nullptr, time))
        return 0;
    return days;
}

void ReadFacts(SSL* session, TlsFacts& facts)
{
    facts.protocol = SSL_get_version(session);
    const unsigned char* chosen = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(session, &chosen, &length);
    facts.http2Known = true;
    facts.http2 = length == 2 && chosen[0] == 'h' && chosen[1] == '2';
    if (X509* certificate = SSL_get1_peer_certificate(session)) {
        facts.daysLeft = DaysUntil(X509_get0_notAfter(certificate));
        char subject[256] = {};
        X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject - 1);
        facts.subject = subject;
        X509_free(certificate);
    }
}

// Ends the exchange with this result.
void Finish(Exchange& job, Connection result, std::string error)
{
    job.result = result;
    job.error = std::move(error);
    job.finished = true;
}

void TimedOut(Exchange& job)
{
    Finish(job, Connection::kTimedOut, DeadlinePassed(job.part, job.request, *job.answer));
}

// What became of a read that found no answer head: nothing, or no HTTP at
// all, is a port that does not speak this protocol.
void FailedHead(Exchange& job, const error_code& ec, bool anythingRead)
{
    if (ec == beast::error::timeout)
        TimedOut(job);
    else if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        Finish(job, Connection::kTooLong, HeaderBlockTooLong());
    else if (!anythingRead || ec.category() == http::make_error_code(http::error::bad_version).category())
        Finish(job, Connection::kNotHttp, ec.message());
    else
        Finish(job, Connection::kFailed, ec.message());
}

template <class Stream>
asio::awaitable<bool> SendRequest(Stream& stream, Exchange& job, const ProbeUrl& url)
{
    const HttpRequest& request = job.request;
    http::request<http::string_body> message{http::string_to_verb(request.method), url.path, 11};
    message.set(http::field::host, HostHeader(url, job.port, job.tls));
    message.set(http::field::user_agent, "tessaline-doctor");
    if (!request.authorization.empty())
        message.set(http::field::authorization, request.authorization);
    if (!request.form.empty()) {
        message.set(http::field::content_type, "application/x-www-form-urlencoded");
        message.body() = request.form;
    }
    message.prepare_payload();
    error_code ec;
    beast::get_lowest_layer(stream).expires_at(job.headDue);
    co_await http::async_write(stream, message, asio::redirect_error(asio::use_awaitable, ec));
    if (ec == beast::error::timeout)
        TimedOut(job);
    else if (ec)
        Finish(job, Connection::kFailed, "sending the request: " + ec.message());
    co_return !ec;
}

template <class Stream, class Parser>
asio::awaitable<bool> ReadHead(Stream& stream, beast::flat_buffer& buffer, Parser& parser, Exchange& job)
{
    job.part = ExchangePart::kHeaderBlock;
    error_code ec;
    beast::get_lowest_layer(stream).expires_at(job.headDue);
    co_await http::async_read_header(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        FailedHead(job, ec, buffer.size() > 0 || parser.got_some());
        co_return false;
    }
    HttpAnswer& answer = *job.answer;
    const auto& response = parser.get();
    answer.status = static_cast<int>(response.result_int());
    for (const auto& field : response)
        answer.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    co_return true;
}

// Piece by piece into TakeBody, until the body ends or TakeBody has enough.
template <class Stream, class Parser>
asio::awaitable<void> ReadBody(Stream& stream, beast::flat_buffer& buffer, Parser& parser, Exchange& job)
{
    job.part = ExchangePart::kBody;
    std::unique_ptr<char[]> piece(new char[kBodyPiece]);
    beast::get_lowest_layer(stream).expires_at(job.wholeDue);
    while (!parser.is_done()) {
        parser.get().body().data = piece.get();
        parser.get().body().size = kBodyPiece;
        error_code ec;
        co_await http::async_read(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
        if (ec == http::error::need_buffer)
            ec = {};
        size_t got = kBodyPiece - parser.get().body().size;
        if (got > 0 && !TakeBody(job.request, *job.answer, {piece.get(), got}))
            break;
        if (ec == beast::error::timeout) {
            TimedOut(job);
            co_return;
        }
        if (ec) {
            Finish(job, Connection::kFailed, "reading the answer's body: " + ec.message());
            co_return;
        }
    }
    Finish(job, Connection::kAnswered, "");
}

template <class Stream>
asio::awaitable<void> Talk(Stream& stream, Exchange& job, const ProbeUrl& url)
{
    if (!co_await SendRequest(stream, job, url))
        co_return;
    // The buffer's own limit keeps an endless head from growing it.
    beast::flat_buffer buffer(kLongestHeaderBlock + kBodyPiece);
    http::response_parser<http::buffer_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(kLongestHeaderBlock));
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    if (co_await ReadHead(stream, buffer, parser, job))
        co_await ReadBody(stream, buffer, parser, job);
}

asio::awaitable<bool> Connect(beast::tcp_stream& stream, Exchange& job, const ProbeUrl& url)
{
    error_code ec;
    tcp::resolver resolver(stream.get_executor());
    auto endpoints = co_await resolver.async_resolve(url.host, std::to_string(job.port),
                                                     asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        Finish(job, Connection::kFailed, "cannot find " + url.host + ": " + ec.message());
        co_return false;
    }
    stream.expires_at(job.headDue);
    co_await stream.async_connect(endpoints, asio::redirect_error(asio::use_awaitable, ec));
    if (ec == beast::error::timeout) {
        TimedOut(job);
    } else if (ec) {
        Finish(job, ec == asio::error::connection_refused ? Connection::kRefused : Connection::kFailed,
               "cannot connect to " + url.host + " port " + std::to_string(job.port) + ": " + ec.message());
    }
    co_return !ec;
}

// The client's TLS context: the trust store or --ca-file when verifying.
bool PrepareContext(ssl::context& context, Exchange& job, const std::string& caFile)
{
    error_code ec;
    if (job.verify) {
        context.set_verify_mode(ssl::verify_peer);
        if (caFile.empty())
            context.set_default_verify_paths(ec);
        else
            context.load_verify_file(caFile, ec);
        if (ec) {
            Finish(job, Connection::kFailed,
                   (caFile.empty() ? std::string("cannot read the system's trust store") : "cannot read " + caFile) +
                       ": " + ec.message());
            return false;
        }
    } else {
        context.set_verify_mode(ssl::verify_none);
    }
    if (job.handshakeOnly)
        SSL_CTX_set_alpn_protos(context.native_handle(), kHttp2AndHttp11, sizeof kHttp2AndHttp11 - 1);
    else
        SSL_CTX_set_alpn_protos(context.native_handle(), kHttp11, sizeof kHttp11 - 1);
    return true;
}

asio::awaitable<bool> Handshake(beast::ssl_stream<beast::tcp_stream>& stream, Exchange& job, const ProbeUrl& url)
{
    job.part = ExchangePart::kHandshake;
    SSL* session = stream.native_handle();
    // The name the certificate must show: an address, or a host name, which
    // also goes out as SNI.
    if (IsAddress(url.host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), url.host.c_str());
    } else {
        SSL_set_tlsext_host_name(session, url.host.c_str());
        SSL_set1_host(session, url.host.c_str());
    }
    error_code ec;
    beast::get_lowest_layer(stream).expires_at(job.headDue);
    co_await stream.async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
    long verdict = SSL_get_verify_result(session);
    if (ec == beast::error::timeout) {
        TimedOut(job);
    } else if (ec && job.verify && verdict != X509_V_OK) {
        Finish(job, Connection::kUntrusted,
               std::string(X509_verify_cert_error_string(verdict)) + (job.handshakeOnly ? "" : "; nothing was sent"));
    } else if (ec) {
        Finish(job, ec == asio::error::eof ? Connection::kNotHttp : Connection::kFailed, "TLS handshake: " + ec.message());
    } else if (job.facts) {
        ReadFacts(session, *job.facts);
    }
    co_return !ec;
}

asio::awaitable<void> Run(Exchange& job, const ProbeUrl& url, const std::string& caFile)
{
    beast::tcp_stream tcpStream(co_await asio::this_coro::executor);
    if (!co_await Connect(tcpStream, job, url))
        co_return;
    if (!job.tls) {
        co_await Talk(tcpStream, job, url);
        co_return;
    }
    ssl::context context(ssl::context::tls_client);
    if (!PrepareContext(context, job, caFile))
        co_return;
    beast::ssl_stream<beast::tcp_stream> stream(std::move(tcpStream), context);
    if (!co_await Handshake(stream, job, url))
        co_return;
    if (job.handshakeOnly)
        Finish(job, Connection::kAnswered, "");
    else
        co_await Talk(stream, job, url);
}

class LinuxTransport : public ProbeTransport {
public:
    LinuxTransport(const ProbeUrl& url, const std::string& caFile) : url_(url), caFile_(caFile) {}

    Connection Handshake(bool verify, TlsFacts& facts, std::string& error) override
    {
        Exchange job;
        job.tls = true;
        job.verify = verify;
        job.handshakeOnly = true;
        job.port = url_.port;
        job.facts = &facts;
        HttpAnswer none;
        job.answer = &none;
        return Perform(job, error);
    }

    Connection Https(const HttpRequest& request, bool verify, HttpAnswer& answer, std::string& error) override
    {
        Exchange job;
        job.tls = true;
        job.verify = verify;
        job.port = url_.port;
        job.request = request;
        job.answer = &answer;
        return Perform(job, error);
    }

    Connection Http(uint16_t port, const HttpRequest& request, HttpAnswer& answer, std::string& error) override
    {
        Exchange job;
        job.port = port;
        job.request = request;
        job.answer = &answer;
        return Perform(job, error);
    }

private:
    Connection Perform(Exchange& job, std::string& error)
    {
        Clock::time_point start = Clock::now();
        job.headDue = start + kStepDeadline;
        job.wholeDue = start + std::max(job.request.deadline, kStepDeadline);
        {
            asio::io_context context;
            asio::co_spawn(context, Run(job, url_, caFile_), [&](const std::exception_ptr& failure) {
                if (!failure)
                    return;
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& e) {
                    Finish(job, Connection::kFailed, e.what());
                }
            });
            // A step that ignores its own expiry (the name lookup has none)
            // is abandoned here, with the context.
            context.run_until(job.wholeDue + std::chrono::seconds(1));
        }
        if (!job.finished)
            TimedOut(job);
        error = job.error;
        return job.result;
    }

    ProbeUrl url_;
    std::string caFile_;
};

} // namespace

std::unique_ptr<ProbeTransport> MakeProbeTransport(const ProbeUrl& url, const std::string& caFile)
{
    return std::make_unique<LinuxTransport>(url, caFile);
}
