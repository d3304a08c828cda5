// The probe's exchanges over WinHTTP, which every Windows has. WinHTTP checks
// the certificate against the system's store itself; with --ca-file it is told
// to accept an unknown authority, and the chain is then checked here against
// the file's certificates on a first connection that carries nothing. Every
// later connection must show that same certificate: WinHTTP offers no point
// between its handshake and its request where a program may check it, so the
// request is closed from the callback that announces the sending, which stops
// it where WinHTTP allows that (Wine's sends it all the same), and the step
// then says that the password may have gone out.
//
// Each exchange runs its network steps (Fly) on a thread of its own, which
// shares with the transport only a Flight that whichever of them leaves last
// frees; the transport waits for it on its own clock (Await). WinHTTP's
// timeouts cannot bound an exchange: they limit each wait, not the whole, so
// a server that sends a byte at a time, or without end, is never cut off, and
// Wine's WinHTTP applies none to a TLS handshake that never ends. Nor does a
// blocked call return under Wine when another thread closes its request's or
// its session's handle. So at a deadline the transport leaves the thread
// behind: it stops when WinHTTP next returns to it, or ends with the process,
// and touches nothing but its Flight and its own handles meanwhile.
//
// Wine's WinHTTP also takes, and ignores, the longest header block: there a
// head without end is cut off by its deadline rather than by its length.
#include "doctor/probe_transport.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr int kLongestChain = 8;
// A body is read in pieces of at most this size...
constexpr DWORD kLongestPiece = 64 * 1024;
// ...and read ahead of the transport at most this far, so that an exchange's
// memory stays bounded however fast the server sends.
constexpr size_t kLongestReadAhead = 1024 * 1024;

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
    void Reset(HINTERNET handle)
    {
        if (handle_)
            WinHttpCloseHandle(handle_);
        handle_ = handle;
    }
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

// A file of certificates is a few KiB; this leaves room for a whole bundle.
constexpr uint64_t kLargestCaFile = 4 * 1024 * 1024;

struct FileCloser {
    void operator()(HANDLE file) const { CloseHandle(file); }
};
using File = std::unique_ptr<void, FileCloser>;

File Opened(HANDLE file)
{
    return File(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// The whole of a regular file of at most kLargestCaFile bytes. It is opened
// for no access at all, which reads nothing and waits for nothing, and
// reopened for reading only once it shows itself a file on disk, so that a
// pipe or a device, which may never answer, is never read.
bool ReadCaFileText(const std::string& path, std::string& text, std::string& error)
{
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    File looked = Opened(
        CreateFileW(Wide(path).c_str(), 0, kShare, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!looked) {
        error = "cannot read " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(looked.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(looked.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = path + " is not a regular file";
        return false;
    }
    uint64_t size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size > kLargestCaFile) {
        error = path + " is larger than " + std::to_string(kLargestCaFile / (1024 * 1024)) +
                " MiB, more than any file of certificates";
        return false;
    }
    File file = Opened(ReOpenFile(looked.get(), GENERIC_READ, kShare, 0));
    text.resize(static_cast<size_t>(size));
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), text.data(), static_cast<DWORD>(size), &read, nullptr)) {
        error = "cannot read " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    text.resize(read);
    return true;
}

// The PEM certificates of a file, in a store of their own.
Store ReadCaFile(const std::string& path, std::string& error)
{
    std::string pem;
    if (!ReadCaFileText(path, pem, error))
        return nullptr;
    Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
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

// One exchange, shared by the transport and the thread that runs it, so that
// whichever leaves last frees it.
struct Flight {
    // Given before the thread starts; read by it alone afterwards.
    std::string host;
    std::wstring method, path, headers;
    std::string form;
    uint16_t port = 0;
    bool tls = false;
    bool wantFacts = false;
    DWORD ignoredChecks = 0; // SECURITY_FLAG_IGNORE_* for WinHTTP
    DWORD waitMs = 0;        // WinHTTP's own timeouts, which end a thread left behind where WinHTTP keeps them
    std::string caFile;
    Store authorities;    // the first connection's chain is checked against these
    Certificate pinned;   // the certificate every later connection must show
    // The thread's own, also touched by WinHTTP's callback, which runs on it.
    DWORD secureFailure = 0;
    bool mismatch = false;

    std::mutex lock;
    std::condition_variable changed;
    // Guarded by lock; the thread writes status, fields and facts before it
    // sets headRead, and the transport reads them only after.
    ExchangePart part = ExchangePart::kConnecting;
    bool headRead = false; // status, headers and facts are set
    bool ended = false;    // result, error and failure are set
    bool left = false;     // the transport needs nothing more: stop at the next chance
    Connection result = Connection::kFailed;
    std::string error;
    DWORD failure = 0; // WinHTTP's error, when it failed
    int status = 0;
    std::vector<std::pair<std::string, std::string>> fields;
    TlsFacts facts;
    Certificate shown; // the certificate checked against the CA file
    std::deque<std::string> body;
    size_t bodyQueued = 0;

    void Reached(ExchangePart now)
    {
        std::lock_guard hold(lock);
        part = now;
    }
    void End(Connection connection, std::string why = {}, DWORD code = 0)
    {
        std::lock_guard hold(lock);
        result = connection;
        error = std::move(why);
        failure = code;
        ended = true;
        changed.notify_all();
    }
};

void CALLBACK StatusCallback(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID information, DWORD)
{
    auto* flight = reinterpret_cast<Flight*>(context);
    if (!flight)
        return;
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information) {
        flight->secureFailure = *static_cast<DWORD*>(information);
    } else if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) {
        flight->Reached(ExchangePart::kHeaderBlock);
        if (flight->pinned && !SameCertificate(ServerCertificate(request).get(), flight->pinned.get())) {
            flight->mismatch = true;
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

// "Name: value" lines after the status line, as WinHTTP gives them back.
std::vector<std::pair<std::string, std::string>> Fields(const std::string& block)
{
    std::vector<std::pair<std::string, std::string>> fields;
    size_t at = block.find("\r\n");
    while (at != std::string::npos) {
        size_t next = block.find("\r\n", at + 2);
        std::string line = block.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t value = line.find_first_not_of(' ', colon + 1);
            fields.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
        }
        at = next;
    }
    return fields;
}

// The status line and the header fields, each line ending in CRLF.
std::string HeaderBlock(HINTERNET request)
{
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    return Narrow(raw.c_str());
}

// What became of a WinHTTP call that failed.
void Fail(Flight& flight, DWORD failure)
{
    switch (failure) {
    case ERROR_WINHTTP_SECURE_FAILURE:
        flight.End(Connection::kUntrusted, SecureFailure(flight.secureFailure) + "; nothing was sent", failure);
        return;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        flight.End(Connection::kRefused, "cannot connect to " + flight.host + ": " + SystemMessage(failure), failure);
        return;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_CONNECTION_ERROR:
        flight.End(flight.tls ? Connection::kFailed : Connection::kNotHttp, SystemMessage(failure), failure);
        return;
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
        flight.End(Connection::kTooLong, HeaderBlockTooLong(), failure);
        return;
    case ERROR_WINHTTP_TIMEOUT:
        // Its words need the request and the answer: the transport gives them.
        flight.End(Connection::kTimedOut, "", failure);
        return;
    default:
        flight.End(Connection::kFailed, SystemMessage(failure), failure);
    }
}

// The session, the connection and the request, closed by the thread that
// opened them, in reverse order.
struct Handles {
    Handle session, connection, request;
};

// The request's handles, with the options that keep the caller's
// credentials where they belong.
bool Open(Flight& flight, Handles& handles)
{
    handles.session.Reset(WinHttpOpen(L"tessaline-doctor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (handles.session) {
        auto wait = static_cast<int>(flight.waitMs);
        WinHttpSetTimeouts(handles.session.get(), wait, wait, wait, wait);
        handles.connection.Reset(WinHttpConnect(handles.session.get(), Wide(flight.host).c_str(), flight.port, 0));
    }
    if (handles.connection)
        handles.request.Reset(WinHttpOpenRequest(handles.connection.get(), flight.method.c_str(), flight.path.c_str(),
                                                 nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                 flight.tls ? WINHTTP_FLAG_SECURE : 0));
    if (!handles.request) {
        flight.End(Connection::kFailed, "WinHTTP: " + SystemMessage(GetLastError()));
        return false;
    }
    HINTERNET request = handles.request.get();
    // Never answer a challenge with this machine's Windows credentials,
    // never follow a redirect, never keep a connection for the next step.
    DWORD option = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &option, sizeof option);
    option = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_KEEP_ALIVE |
             WINHTTP_DISABLE_AUTHENTICATION;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &option, sizeof option);
    if (flight.ignoredChecks)
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flight.ignoredChecks, sizeof flight.ignoredChecks);
    option = kLongestHeaderBlock;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &option, sizeof option);
    if (flight.wantFacts) {
        option = WINHTTP_PROTOCOL_FLAG_HTTP2;
        flight.facts.http2Known = WinHttpSetOption(request, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &option, sizeof option);
    }
    WinHttpSetStatusCallback(request, StatusCallback, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                             0);
    return true;
}

// Connecting, the handshake and the request, which WinHTTP does in one call.
bool Send(Flight& flight, Handles& handles)
{
    auto length = static_cast<DWORD>(flight.form.size());
    BOOL sent = WinHttpSendRequest(handles.request.get(),
                                   flight.headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : flight.headers.c_str(),
                                   flight.headers.empty() ? 0 : static_cast<DWORD>(-1L),
                                   length ? flight.form.data() : nullptr, length, length,
                                   reinterpret_cast<DWORD_PTR>(&flight));
    DWORD failure = sent ? 0 : GetLastError();
    if (flight.mismatch) {
        handles.request.Forget(); // the callback closed it
        flight.End(Connection::kUntrusted,
                   "it is not the certificate checked against " + flight.caFile +
                       ", and WinHTTP may have sent the request, with any password in it, before this was seen: "
                       "change the password unless this server is yours");
        return false;
    }
    if (!sent)
        Fail(flight, failure);
    return sent;
}

// The certificate's facts for the report; with --ca-file, on the first
// connection, its chain checked against the file, and the certificate kept
// for the later connections to show.
bool CheckCertificate(Flight& flight, Handles& handles)
{
    if (!flight.wantFacts && !flight.authorities)
        return true;
    Certificate certificate = ServerCertificate(handles.request.get());
    if (flight.wantFacts && certificate) {
        flight.facts.daysLeft = DaysUntil(certificate->pCertInfo->NotAfter);
        flight.facts.subject = SubjectOf(certificate.get());
    }
    if (!flight.authorities)
        return true;
    if (!certificate || !ChainsToCaFile(certificate.get(), flight.authorities.get())) {
        flight.End(Connection::kUntrusted, "the chain does not lead to a certificate of " + flight.caFile);
        return false;
    }
    std::lock_guard hold(flight.lock);
    flight.shown = std::move(certificate);
    return true;
}

// The status line and the header fields, at most kLongestHeaderBlock bytes.
bool ReceiveHead(Flight& flight, Handles& handles)
{
    HINTERNET request = handles.request.get();
    if (!WinHttpReceiveResponse(request, nullptr)) {
        Fail(flight, GetLastError());
        return false;
    }
    std::string block = HeaderBlock(request);
    if (block.size() > kLongestHeaderBlock) {
        flight.End(Connection::kTooLong, HeaderBlockTooLong());
        return false;
    }
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (flight.facts.http2Known) {
        DWORD used = 0;
        size = sizeof used;
        flight.facts.http2Known = WinHttpQueryOption(request, WINHTTP_OPTION_HTTP_PROTOCOL_USED, &used, &size);
        flight.facts.http2 = flight.facts.http2Known && (used & WINHTTP_PROTOCOL_FLAG_HTTP2);
    }
    std::lock_guard hold(flight.lock);
    flight.status = static_cast<int>(status);
    flight.fields = Fields(block);
    flight.part = ExchangePart::kBody;
    flight.headRead = true;
    flight.changed.notify_all();
    return true;
}

// The body, a piece at a time, never more than kLongestReadAhead bytes ahead
// of the transport, until its end or until the transport needs no more.
void ReadBody(Flight& flight, Handles& handles)
{
    HINTERNET request = handles.request.get();
    auto failed = [&](DWORD failure) {
        if (failure == ERROR_WINHTTP_TIMEOUT)
            Fail(flight, failure);
        else
            flight.End(Connection::kFailed, "reading the answer: " + SystemMessage(failure), failure);
    };
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available))
            return failed(GetLastError());
        if (available == 0)
            return flight.End(Connection::kAnswered);
        std::string piece(std::min(available, kLongestPiece), '\0');
        DWORD read = 0;
        if (!WinHttpReadData(request, piece.data(), static_cast<DWORD>(piece.size()), &read))
            return failed(GetLastError());
        piece.resize(read);
        std::unique_lock hold(flight.lock);
        flight.changed.wait(hold, [&] { return flight.left || flight.bodyQueued < kLongestReadAhead; });
        if (flight.left)
            return;
        flight.bodyQueued += piece.size();
        flight.body.push_back(std::move(piece));
        flight.changed.notify_all();
    }
}

// The exchange's network steps in order, on a thread of its own.
void Fly(const std::shared_ptr<Flight>& flight)
{
    Handles handles;
    if (Open(*flight, handles) && Send(*flight, handles) && CheckCertificate(*flight, handles) &&
        ReceiveHead(*flight, handles))
        ReadBody(*flight, handles);
}

// The flight's outcome, waited for on the transport's own clock: at a
// deadline the thread is left behind, to end when WinHTTP next returns to it.
Connection Await(Flight& flight, std::chrono::steady_clock::time_point start, const HttpRequest& request,
                 HttpAnswer& answer, TlsFacts* facts, std::string& error)
{
    std::unique_lock hold(flight.lock);
    auto leave = [&](ExchangePart part) {
        flight.left = true;
        flight.changed.notify_all();
        error = DeadlinePassed(part, request, answer);
        return Connection::kTimedOut;
    };
    if (!flight.changed.wait_until(hold, start + kStepDeadline, [&] { return flight.headRead || flight.ended; }))
        return leave(flight.part);
    if (flight.headRead) {
        answer.status = flight.status;
        answer.headers = std::move(flight.fields);
        if (facts)
            *facts = flight.facts;
    }
    for (;;) {
        while (!flight.body.empty()) {
            std::string piece = std::move(flight.body.front());
            flight.body.pop_front();
            flight.bodyQueued -= piece.size();
            flight.changed.notify_all();
            hold.unlock();
            bool more = TakeBody(request, answer, piece);
            hold.lock();
            if (!more) {
                flight.left = true;
                flight.changed.notify_all();
                return Connection::kAnswered;
            }
        }
        if (flight.ended)
            break;
        if (!flight.changed.wait_until(hold, start + request.deadline,
                                       [&] { return !flight.body.empty() || flight.ended; }))
            return leave(ExchangePart::kBody);
    }
    error = flight.result == Connection::kTimedOut ? DeadlinePassed(flight.part, request, answer) : flight.error;
    return flight.result;
}

class WindowsTransport : public ProbeTransport {
public:
    WindowsTransport(const ProbeUrl& url, const std::string& caFile) : url_(url), caFile_(caFile) {}

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
        auto start = std::chrono::steady_clock::now();
        std::shared_ptr<Flight> flight;
        Connection result = Prepare(port, tls, verify, request, facts != nullptr, flight, error);
        if (!flight)
            return result;
        std::thread(Fly, flight).detach();
        result = Await(*flight, start, request, answer, facts, error);
        DWORD failure = 0;
        {
            std::lock_guard hold(flight->lock);
            if (flight->shown)
                pinned_ = std::move(flight->shown);
            failure = flight->failure;
        }
        // Some WinHTTPs report a refused certificate as a failed channel
        // only; when the same server shakes hands unchecked, it was the certificate.
        if (result == Connection::kFailed && tls && verify && failure == ERROR_WINHTTP_SECURE_CHANNEL_ERROR &&
            Unchecked(port)) {
            error = "WinHTTP refused the certificate (" + SystemMessage(failure) + "); nothing was sent";
            return Connection::kUntrusted;
        }
        return result;
    }

    // The flight of one exchange, given all it needs; none, with `error`, when it must not start.
    Connection Prepare(uint16_t port, bool tls, bool verify, const HttpRequest& request, bool wantFacts,
                       std::shared_ptr<Flight>& flight, std::string& error)
    {
        // With a CA file, the certificate is checked here, on the first
        // connection, which carries nothing; later ones must show the same.
        bool checkHere = tls && verify && !caFile_.empty();
        if (checkHere && !wantFacts && !pinned_) {
            error = "the certificate was not checked against " + caFile_;
            return Connection::kUntrusted;
        }
        auto made = std::make_shared<Flight>();
        if (checkHere && wantFacts) {
            made->authorities = ReadCaFile(caFile_, error);
            if (!made->authorities)
                return Connection::kFailed;
        }
        if (checkHere && !wantFacts)
            made->pinned.reset(CertDuplicateCertificateContext(pinned_.get()));
        made->caFile = caFile_;
        made->host = url_.host;
        made->port = port;
        made->tls = tls;
        made->wantFacts = wantFacts;
        made->method = Wide(request.method);
        made->path = Wide(url_.path);
        made->form = request.form;
        if (!request.authorization.empty())
            made->headers += L"Authorization: " + Wide(request.authorization) + L"\r\n";
        if (!request.form.empty())
            made->headers += L"Content-Type: application/x-www-form-urlencoded\r\n";
        if (tls && !verify)
            made->ignoredChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        else if (checkHere)
            made->ignoredChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        made->waitMs = static_cast<DWORD>(std::chrono::milliseconds(request.deadline).count());
        made->part = tls ? ExchangePart::kHandshake : ExchangePart::kConnecting;
        flight = std::move(made);
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

    ProbeUrl url_;
    std::string caFile_;
    Certificate pinned_;
};

} // namespace

std::unique_ptr<ProbeTransport> MakeProbeTransport(const ProbeUrl& url, const std::string& caFile)
{
    return std::make_unique<WindowsTransport>(url, caFile);
}
