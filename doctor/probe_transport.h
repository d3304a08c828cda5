// What the probe needs from the network: single HTTP/1.1 exchanges over TLS
// or plain TCP, each on a connection of its own, and the facts of a TLS
// handshake. Written once per system (OpenSSL and Beast on Linux, WinHTTP on
// Windows), so that the probe's steps are written once.
//
// Whatever the endpoint does, an exchange ends: connecting, the handshake and
// the answer's header block must be done within kStepDeadline, the whole
// answer within the request's deadline (counted from the start); the header
// block may hold kLongestHeaderBlock bytes, and a body is kept only up to
// kLongestKeptBody. A body given to a BodyReader is not kept at all, so that
// the probe's memory does not grow with the answer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Connecting, the handshake and the header block; every whole answer but list's.
constexpr std::chrono::seconds kStepDeadline{15};
// list's answer grows with the accounts (116 MB for a million of them).
constexpr std::chrono::seconds kListDeadline{120};
// The status line and the header fields together.
constexpr size_t kLongestHeaderBlock = size_t{64} * 1024;
// The extension's pages and auth's answers are a few hundred bytes; IIS's
// detailed pages a few KiB.
constexpr size_t kLongestKeptBody = size_t{64} * 1024;

struct ProbeUrl {
    std::string host;      // a name, or an address without brackets
    uint16_t port = 443;
    bool portGiven = false; // the URL named its port
    std::string path;      // from the first '/', query included
};

// Takes an answer's body as it arrives.
class BodyReader {
public:
    // False stops the reading: the reader has seen enough.
    virtual bool Take(std::string_view bytes) = 0;

protected:
    ~BodyReader() = default;
};

struct HttpRequest {
    const char* method = "GET";
    std::string authorization; // the Authorization header's value, or empty
    std::string form;          // an application/x-www-form-urlencoded body, or empty for none
    std::chrono::seconds deadline = kStepDeadline;
    // Where the body goes instead of HttpAnswer::body; null: kept there.
    BodyReader* bodyReader = nullptr;
};

struct HttpAnswer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // in the order received
    std::string body; // up to kLongestKeptBody bytes of it
    // The body went on past kLongestKeptBody, or the BodyReader stopped it;
    // the rest was not read.
    bool bodyCutOff = false;
    uint64_t bodyBytes = 0; // as many as were read

    // The first header of this name (any letter case), or nullptr.
    const std::string* Header(std::string_view name) const;
};

struct TlsFacts {
    std::string protocol;    // e.g. "TLSv1.3"; empty when the system does not say
    long daysLeft = 0;       // until the server's certificate expires
    std::string subject;     // the certificate's subject, for the report
    bool http2Known = false; // the system could offer HTTP/2 and say what was chosen
    bool http2 = false;      // the server chose HTTP/2
};

enum class Connection {
    kAnswered,  // an HTTP answer was read
    kRefused,   // nothing listens there
    kUntrusted, // the certificate's chain or name did not verify; `error` says why
    kNotHttp,   // the connection was made, but what came back was no HTTP answer
    kTimedOut,  // a deadline passed first; `error` says which, and in which part
    kTooLong,   // the header block was over kLongestHeaderBlock
    kFailed,    // anything else; `error` says what
};

class ProbeTransport {
public:
    virtual ~ProbeTransport() = default;

    // A TLS handshake that offers HTTP/2 and HTTP/1.1, within kStepDeadline;
    // fills `facts` once the handshake completes, whether or not the
    // certificate verified.
    virtual Connection Handshake(bool verify, TlsFacts& facts, std::string& error) = 0;
    // One request over HTTPS. Without `verify` the certificate is not checked:
    // only requests that carry no password are sent that way.
    virtual Connection Https(const HttpRequest& request, bool verify, HttpAnswer& answer, std::string& error) = 0;
    // One request over plain HTTP to the URL's host on this port.
    virtual Connection Http(uint16_t port, const HttpRequest& request, HttpAnswer& answer, std::string& error) = 0;
};

// For the transports: one piece of the body, as it arrives, to the request's
// BodyReader or into the answer. False when no more should be read; the
// answer is then marked cut off.
bool TakeBody(const HttpRequest& request, HttpAnswer& answer, std::string_view bytes);
// Into the answer's body, up to kLongestKeptBody; false past it.
bool KeepBody(HttpAnswer& answer, std::string_view bytes);

// The parts of an exchange, for the words of a deadline that passed.
enum class ExchangePart { kConnecting, kHandshake, kHeaderBlock, kBody };
// `error` for kTimedOut, the same on every system: which deadline passed in
// which part, and how much of the body had come.
std::string DeadlinePassed(ExchangePart part, const HttpRequest& request, const HttpAnswer& answer);
// `error` for kTooLong.
std::string HeaderBlockTooLong();

// `caFile`, when not empty, names PEM certificates trusted instead of the
// system's store; it must be a regular file (checked before anything is sent).
std::unique_ptr<ProbeTransport> MakeProbeTransport(const ProbeUrl& url, const std::string& caFile);
