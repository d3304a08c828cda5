// The probe's exchanges over WinHTTP, which every Windows has. WinHTTP checks
// the certificate against the system's store itself; with --ca-file it is told
// to accept an unknown authority, and the chain is then checked here against
// the file's certificates on a first connection that carries nothing. Every
// later connection must show that same certificate: WinHTTP offers no point
// between its handshake and its request where a program may check it, so the
// request is closed from the callback that announces the sending, which stops
// it where WinHTTP allows that (Wine's sends it all the same), and the step
// then says that the password may have gone out.
#include "doctor/probe_transport.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr DWORD kTimeoutMs = 15000;
constexpr int kLongestChain = 8;

std::wstring Wide(const std::string& text)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
    if (units > 1)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
    return wide;
}

std::string Narrow(const wchar_t* text, int length = -1)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string narrow(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), bytes, nullptr, nullptr);
    if (length < 0 && !narrow.empty())
        narrow.pop_back();
    return narrow;
}

std::string SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    HMODULE module = GetModuleHandleW(L"winhttp.dll");
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM |
                  (module ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    FormatMessageW(flags, module, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text ? Narrow(text) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

// Why WinHTTP refused the certificate, from the flags of its secure-failure report.
std::string SecureFailure(DWORD flags)
{
    std::string reasons;
    auto add = [&](DWORD flag, const char* reason) {
        if (flags & flag)
            reasons += (reasons.empty() ? "" : "; ") + std::string(reason);
    };
    add(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "the chain ends at an authority the system does not trust");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "the certificate does not name this host");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "the certificate has expired or is not valid yet");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "the certificate is revoked");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "revocation could not be checked");
    add(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "the certificate is invalid");
    add(WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "the TLS channel failed");
    return reasons.empty() ? "the certificate was refused" : reasons;
}

class Handle {
public:
    explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~Handle()
    {
        if (handle_)
            WinHttpCloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return handle_; }
    // For a handle closed elsewhere.
    void Forget() { handle_ = nullptr; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

struct CertificateDeleter {
    void operator()(const CERT_CONTEXT* certificate) const { CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateDeleter>;

struct StoreDeleter {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreDeleter>;

// The PEM certificates of a file, in a store of their own.
Store ReadCaFile(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        error = "cannot read " + path;
        return nullptr;
    }
    Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    std::string pem = text.str();
    constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
    constexpr char kEnd[] = "-----END CERTIFICATE-----";
    int count = 0;
    for (size_t begin = pem.find(kBegin); begin != std::string::npos; begin = pem.find(kBegin, begin + 1)) {
        size_t end = pem.find(kEnd, begin);
        if (end == std::string::npos)
            break;
        std::string block = pem.substr(begin, end + sizeof kEnd - 1 - begin);
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::string der(size, '\0');
        CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                             reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
        if (CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                             size, CERT_STORE_ADD_ALWAYS, nullptr))
            ++count;
    }
    if (count == 0) {
        error = path + " holds no PEM certificate";
        return nullptr;
    }
    return store;
}

bool SignedBy(const CERT_CONTEXT* subject, const CERT_CONTEXT* issuer)
{
    return CertCompareCertificateName(X509_ASN_ENCODING, &subject->pCertInfo->Issuer, &issuer->pCertInfo->Subject) &&
           CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                             const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                             const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
}

// The certificate of this store that signed `subject`, or nullptr.
const CERT_CONTEXT* IssuerIn(HCERTSTORE store, const CERT_CONTEXT* subject)
{
    for (const CERT_CONTEXT* candidate = CertEnumCertificatesInStore(store, nullptr); candidate;
         candidate = CertEnumCertificatesInStore(store, candidate)) {
        if (SignedBy(subject, candidate))
            return candidate; // the enumeration's reference is the caller's now
    }
    return nullptr;
}

// The server's certificate leads, through what the server sent, to one of
// the file's certificates, or is one of them. WinHTTP checks its dates and name.
bool ChainsToCaFile(const CERT_CONTEXT* server, HCERTSTORE authorities)
{
    Certificate current(CertDuplicateCertificateContext(server));
    for (int depth = 0; depth < kLongestChain; ++depth) {
        if (Certificate same{CertFindCertificateInStore(authorities, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                       current.get(), nullptr)})
            return true;
        if (Certificate authority{IssuerIn(authorities, current.get())})
            return true;
        Certificate sent{current->hCertStore ? IssuerIn(current->hCertStore, current.get()) : nullptr};
        if (!sent || CertCompareCertificate(X509_ASN_ENCODING, sent->pCertInfo, current->pCertInfo))
            return false;
        current = std::move(sent);
    }
    return false;
}

Certificate ServerCertificate(HINTERNET request)
{
    const CERT_CONTEXT* certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size))
        return nullptr;
    return Certificate(certificate);
}

bool SameCertificate(const CERT_CONTEXT* a, const CERT_CONTEXT* b)
{
    return a && b && a->cbCertEncoded == b->cbCertEncoded &&
           memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// What the status callback learns of one request.
struct RequestWatch {
    DWORD secureFailure = 0;
    // With --ca-file: the certificate every connection must show before sending.
    const CERT_CONTEXT* pinned = nullptr;
    bool mismatch = false;
};

void CALLBACK StatusCallback(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID information, DWORD)
{
    auto* watch = reinterpret_cast<RequestWatch*>(context);
    if (!watch)
        return;
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information) {
        watch->secureFailure = *static_cast<DWORD*>(information);
    } else if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST && watch->pinned) {
        Certificate shown = ServerCertificate(request);
        if (!SameCertificate(shown.get(), watch->pinned)) {
            watch->mismatch = true;
            // Closing the handle here stops the request before it is written.
            WinHttpCloseHandle(request);
        }
    }
}

long DaysUntil(const FILETIME& time)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<long>((ticks(time) - ticks(now)) / (10000000LL * 86400));
}

std::string SubjectOf(const CERT_CONTEXT* certificate)
{
    char subject[256] = {};
    CertNameToStrA(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR, subject, sizeof subject);
    return subject;
}

void ReadHeaders(HINTERNET request, HttpAnswer& answer)
{
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.status = static_cast<int>(status);
    size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return;
    std::string lines = Narrow(raw.c_str());
    // The status line first, then "Name: value" lines.
    size_t at = lines.find("\r\n");
    while (at != std::string::npos) {
        size_t next = lines.find("\r\n", at + 2);
        std::string line = lines.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t value = line.find_first_not_of(' ', colon + 1);
            answer.headers.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
        }
        at = next;
    }
}

bool ReadBody(HINTERNET request, std::string& body)
{
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available))
            return false;
        if (available == 0)
            return true;
        size_t start = body.size();
        body.resize(start + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, body.data() + start, available, &read))
            return false;
        body.resize(start + read);
    }
}

class WindowsTransport : public ProbeTransport {
public:
    WindowsTransport(const ProbeUrl& url, const std::string& caFile) : url_(url), caFile_(caFile)
    {
        session_ = WinHttpOpen(L"tessaline-doctor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0);
        if (session_)
            WinHttpSetTimeouts(session_, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
    }
    ~WindowsTransport() override
    {
        if (session_)
            WinHttpCloseHandle(session_);
    }

    Connection Handshake(bool verify, TlsFacts& facts, std::string& error) override
    {
        HttpRequest head;
        head.method = "HEAD";
        HttpAnswer answer;
        return Exchange(url_.port, true, verify, head, answer, &facts, error);
    }

    Connection Https(const HttpRequest& request, bool verify, HttpAnswer& answer, std::string& error) override
    {
        return Exchange(url_.port, true, verify, request, answer, nullptr, error);
    }

    Connection Http(uint16_t port, const HttpRequest& request, HttpAnswer& answer, std::string& error) override
    {
        return Exchange(port, false, false, request, answer, nullptr, error);
    }

private:
    Connection Exchange(uint16_t port, bool tls, bool verify, const HttpRequest& request, HttpAnswer& answer,
                        TlsFacts* facts, std::string& error)
    {
        if (!session_) {
            error = "WinHTTP: " + SystemMessage(GetLastError());
            return Connection::kFailed;
        }
        // With a CA file, the certificate is checked here, on the first
        // connection, which carries nothing; later ones must show the same.
        bool checkHere = tls && verify && !caFile_.empty();
        if (checkHere && !facts && !pinned_) {
            error = "the certificate was not checked against " + caFile_;
            return Connection::kUntrusted;
        }
        Handle connection(WinHttpConnect(session_, Wide(url_.host).c_str(), port, 0));
        Handle handle(connection ? WinHttpOpenRequest(connection.get(), Wide(request.method).c_str(),
                                                       Wide(url_.path).c_str(), nullptr, WINHTTP_NO_REFERER,
                                                       WINHTTP_DEFAULT_ACCEPT_TYPES, tls ? WINHTTP_FLAG_SECURE : 0)
                                            : nullptr);
        if (!handle) {
            error = SystemMessage(GetLastError());
            return Connection::kFailed;
        }
        HINTERNET h = handle.get();
        // Never answer a challenge with this machine's Windows credentials,
        // never follow a redirect, never keep a connection for the next step.
        DWORD option = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
        WinHttpSetOption(h, WINHTTP_OPTION_AUTOLOGON_POLICY, &option, sizeof option);
        option = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_KEEP_ALIVE |
                 WINHTTP_DISABLE_AUTHENTICATION;
        WinHttpSetOption(h, WINHTTP_OPTION_DISABLE_FEATURE, &option, sizeof option);
        if (tls && (!verify || checkHere)) {
            option = verify ? SECURITY_FLAG_IGNORE_UNKNOWN_CA
                            : SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
            WinHttpSetOption(h, WINHTTP_OPTION_SECURITY_FLAGS, &option, sizeof option);
        }
        if (facts) {
            option = WINHTTP_PROTOCOL_FLAG_HTTP2;
            facts->http2Known = WinHttpSetOption(h, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &option, sizeof option);
        }
        RequestWatch watch;
        if (checkHere && !facts)
            watch.pinned = pinned_.get();
        WinHttpSetStatusCallback(h, StatusCallback,
                                 WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);

        std::wstring headers;
        if (!request.authorization.empty())
            headers += L"Authorization: " + Wide(request.authorization) + L"\r\n";
        if (!request.form.empty())
            headers += L"Content-Type: application/x-www-form-urlencoded\r\n";
        auto body = const_cast<char*>(request.form.data());
        auto length = static_cast<DWORD>(request.form.size());
        BOOL sent = WinHttpSendRequest(h, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                       headers.empty() ? 0 : static_cast<DWORD>(-1L), length ? body : nullptr, length,
                                       length, reinterpret_cast<DWORD_PTR>(&watch));
        DWORD failure = sent ? 0 : GetLastError();
        if (watch.mismatch) {
            handle.Forget(); // the callback closed it
            error = "it is not the certificate checked against " + caFile_ +
                    ", and WinHTTP may have sent the request, with any password in it, before this was seen: "
                    "change the password unless this server is yours";
            return Connection::kUntrusted;
        }
        if (!sent) {
            Connection result = Failed(failure, tls, watch, error);
            // Some WinHTTPs report a refused certificate as a failed channel
            // only; when the same server shakes hands unchecked, it was the certificate.
            if (result == Connection::kFailed && tls && verify && failure == ERROR_WINHTTP_SECURE_CHANNEL_ERROR &&
                Unchecked(port)) {
                error = "WinHTTP refused the certificate (" + SystemMessage(failure) + "); nothing was sent";
                return Connection::kUntrusted;
            }
            return result;
        }

        if (facts || checkHere) {
            Certificate certificate = ServerCertificate(h);
            if (facts && certificate) {
                facts->daysLeft = DaysUntil(certificate->pCertInfo->NotAfter);
                facts->subject = SubjectOf(certificate.get());
            }
            if (facts && checkHere) {
                Store authorities = ReadCaFile(caFile_, error);
                if (!authorities)
                    return Connection::kFailed;
                if (!certificate || !ChainsToCaFile(certificate.get(), authorities.get())) {
                    error = "the chain does not lead to a certificate of " + caFile_;
                    return Connection::kUntrusted;
                }
                pinned_ = std::move(certificate);
            }
        }
        if (!WinHttpReceiveResponse(h, nullptr))
            return Failed(GetLastError(), tls, watch, error);
        ReadHeaders(h, answer);
        if (facts && facts->http2Known) {
            DWORD used = 0, size = sizeof used;
            facts->http2Known = WinHttpQueryOption(h, WINHTTP_OPTION_HTTP_PROTOCOL_USED, &used, &size);
            facts->http2 = facts->http2Known && (used & WINHTTP_PROTOCOL_FLAG_HTTP2);
        }
        if (!ReadBody(h, answer.body)) {
            error = "reading the answer: " + SystemMessage(GetLastError());
            return Connection::kFailed;
        }
        return Connection::kAnswered;
    }

    bool Unchecked(uint16_t port)
    {
        HttpRequest head;
        head.method = "HEAD";
        HttpAnswer answer;
        std::string error;
        return Exchange(port, true, false, head, answer, nullptr, error) == Connection::kAnswered;
    }

    Connection Failed(DWORD failure, bool tls, const RequestWatch& watch, std::string& error)
    {
        switch (failure) {
        case ERROR_WINHTTP_SECURE_FAILURE:
            error = SecureFailure(watch.secureFailure) + "; nothing was sent";
            return Connection::kUntrusted;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            error = "cannot connect to " + url_.host + ": " + SystemMessage(failure);
            return Connection::kRefused;
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        case ERROR_WINHTTP_CONNECTION_ERROR:
            error = SystemMessage(failure);
            return tls ? Connection::kFailed : Connection::kNotHttp;
        default:
            error = SystemMessage(failure);
            return Connection::kFailed;
        }
    }

    ProbeUrl url_;
    std::string caFile_;
    HINTERNET session_ = nullptr;
    Certificate pinned_;
};

} // namespace

std::unique_ptr<ProbeTransport> MakeProbeTransport(const ProbeUrl& url, const std::string& caFile)
{
    return std::make_unique<WindowsTransport>(url, caFile);
}
