// The probe's exchanges over Beast and OpenSSL. Every operation has a time
// limit, so that a front that accepts and never answers cannot hang the probe.
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

#include <chrono>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using asio::ip::tcp;
using boost::system::error_code;

constexpr auto kTimeout = std::chrono::seconds(15);
constexpr uint64_t kLargestBody = uint64_t(1) << 30;
// ALPN's wire format: each protocol name after its length.
constexpr unsigned char kHttp2AndHttp11[] = "\x02h2\x08http/1.1";
constexpr unsigned char kHttp11[] = "\x08http/1.1";

struct Exchange {
    bool tls = false;
    bool verify = false;
    bool handshakeOnly = false;
    uint16_t port = 0;
    const HttpRequest* request = nullptr;
    HttpAnswer* answer = nullptr;
    TlsFacts* facts = nullptr;
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

std::string Message(const error_code& ec)
{
    return ec.message();
}

// What became of a read that found no answer: nothing or no HTTP at all is
// a port that does not speak this protocol.
void FailedRead(Exchange& job, const error_code& ec, bool anythingRead)
{
    bool notHttp = !anythingRead || ec.category() == http::make_error_code(http::error::bad_version).category();
    job.result = notHttp ? Connection::kNotHttp : Connection::kFailed;
    job.error = Message(ec);
}

template <class Stream>
asio::awaitable<void> Talk(Stream& stream, Exchange& job, const ProbeUrl& url)
{
    error_code ec;
    const HttpRequest& request = *job.request;
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
    beast::get_lowest_layer(stream).expires_after(kTimeout);
    co_await http::async_write(stream, message, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        job.result = Connection::kFailed;
        job.error = "sending the request: " + Message(ec);
        co_return;
    }

    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(kLargestBody);
    beast::get_lowest_layer(stream).expires_after(kTimeout);
    co_await http::async_read(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        FailedRead(job, ec, buffer.size() > 0 || parser.got_some());
        co_return;
    }
    HttpAnswer& answer = *job.answer;
    const auto& response = parser.get();
    answer.status = static_cast<int>(response.result_int());
    for (const auto& field : response)
        answer.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    answer.body = response.body();
    job.result = Connection::kAnswered;
}

asio::awaitable<void> Run(Exchange& job, const ProbeUrl& url, const std::string& caFile)
{
    auto executor = co_await asio::this_coro::executor;
    error_code ec;
    tcp::resolver resolver(executor);
    auto endpoints = co_await resolver.async_resolve(url.host, std::to_string(job.port),
                                                     asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        job.error = "cannot find " + url.host + ": " + Message(ec);
        co_return;
    }
    beast::tcp_stream tcpStream(executor);
    tcpStream.expires_after(kTimeout);
    co_await tcpStream.async_connect(endpoints, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        job.result = ec == asio::error::connection_refused ? Connection::kRefused : Connection::kFailed;
        job.error = "cannot connect to " + url.host + " port " + std::to_string(job.port) + ": " + Message(ec);
        co_return;
    }
    if (!job.tls) {
        co_await Talk(tcpStream, job, url);
        co_return;
    }

    ssl::context context(ssl::context::tls_client);
    if (job.verify) {
        context.set_verify_mode(ssl::verify_peer);
        if (caFile.empty())
            context.set_default_verify_paths(ec);
        else
            context.load_verify_file(caFile, ec);
        if (ec) {
            job.error = (caFile.empty() ? std::string("cannot read the system's trust store")
                                        : "cannot read " + caFile) + ": " + Message(ec);
            co_return;
        }
    } else {
        context.set_verify_mode(ssl::verify_none);
    }
    if (job.handshakeOnly)
        SSL_CTX_set_alpn_protos(context.native_handle(), kHttp2AndHttp11, sizeof kHttp2AndHttp11 - 1);
    else
        SSL_CTX_set_alpn_protos(context.native_handle(), kHttp11, sizeof kHttp11 - 1);

    beast::ssl_stream<beast::tcp_stream> stream(std::move(tcpStream), context);
    SSL* session = stream.native_handle();
    if (IsAddress(url.host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), url.host.c_str());
    } else {
        SSL_set_tlsext_host_name(session, url.host.c_str());
        SSL_set1_host(session, url.host.c_str());
    }
    beast::get_lowest_layer(stream).expires_after(kTimeout);
    co_await stream.async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        long verdict = SSL_get_verify_result(session);
        if (job.verify && verdict != X509_V_OK) {
            job.result = Connection::kUntrusted;
            job.error = X509_verify_cert_error_string(verdict);
            if (!job.handshakeOnly)
                job.error += "; nothing was sent";
        } else {
            job.result = ec == asio::error::eof ? Connection::kNotHttp : Connection::kFailed;
            job.error = "TLS handshake: " + Message(ec);
        }
        co_return;
    }
    if (job.facts)
        ReadFacts(session, *job.facts);
    if (job.handshakeOnly) {
        job.result = Connection::kAnswered;
        co_return;
    }
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
        return Perform(job, error);
    }

    Connection Https(const HttpRequest& request, bool verify, HttpAnswer& answer, std::string& error) override
    {
        Exchange job;
        job.tls = true;
        job.verify = verify;
        job.port = url_.port;
        job.request = &request;
        job.answer = &answer;
        return Perform(job, error);
    }

    Connection Http(uint16_t port, const HttpRequest& request, HttpAnswer& answer, std::string& error) override
    {
        Exchange job;
        job.port = port;
        job.request = &request;
        job.answer = &answer;
        return Perform(job, error);
    }

private:
    Connection Perform(Exchange& job, std::string& error)
    {
        asio::io_context context;
        asio::co_spawn(context, Run(job, url_, caFile_), [&](const std::exception_ptr& failure) {
            if (!failure)
                return;
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                job.result = Connection::kFailed;
                job.error = e.what();
            }
        });
        context.run();
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
