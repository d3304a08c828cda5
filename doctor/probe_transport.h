// What the probe needs from the network: single HTTP/1.1 exchanges over TLS
// or plain TCP, each on a connection of its own, and the facts of a TLS
// handshake. Written once per system (OpenSSL and Beast on Linux, WinHTTP on
// Windows), so that the probe's steps are written once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct ProbeUrl {
    std::string host;      // a name, or an address without brackets
    uint16_t port = 443;
    bool portGiven = false; // the URL named its port
    std::string path;      // from the first '/', query included
};

struct HttpRequest {
    const char* method = "GET";
    std::string authorization; // the Authorization header's value, or empty
    std::string form;          // an application/x-www-form-urlencoded body, or empty for none
};

struct HttpAnswer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // in the order received
    std::string body;

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
    kFailed,    // anything else; `error` says what
};

class ProbeTransport {
public:
    virtual ~ProbeTransport() = default;

    // A TLS handshake that offers HTTP/2 and HTTP/1.1; fills `facts` once the
    // handshake completes, whether or not the certificate verified.
    virtual Connection Handshake(bool verify, TlsFacts& facts, std::string& error) = 0;
    // One request over HTTPS. Without `verify` the certificate is not checked:
    // only requests that carry no password are sent that way.
    virtual Connection Https(const HttpRequest& request, bool verify, HttpAnswer& answer, std::string& error) = 0;
    // One request over plain HTTP to the URL's host on this port.
    virtual Connection Http(uint16_t port, const HttpRequest& request, HttpAnswer& answer, std::string& error) = 0;
};

// `caFile`, when not empty, names PEM certificates trusted instead of the
// system's store.
std::unique_ptr<ProbeTransport> MakeProbeTransport(const ProbeUrl& url, const std::string& caFile);
