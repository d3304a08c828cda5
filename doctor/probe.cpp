#include "doctor/probe.h"

#include "doctor/list_answer.h"
#include "extension/request_context.h"
#include "platform/ascii.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

// The extension's own answers, made by its own response writer through a
// control block that keeps what it is given, so that the probe compares with
// exactly what the extension sends. The statuses and messages are tied to the
// extension's by the end-to-end tests, where the probe meets it.
class KeptAnswer {
public:
    KeptAnswer()
    {
        ecb_.cbSize = sizeof ecb_;
        ecb_.ConnID = this;
        ecb_.lpszMethod = const_cast<char*>("POST");
        ecb_.ServerSupportFunction = &KeptAnswer::SupportFunction;
        ecb_.WriteClient = &KeptAnswer::Write;
    }
    EXTENSION_CONTROL_BLOCK* Ecb() { return &ecb_; }
    HttpAnswer Answer() const { return answer_; }

private:
    static BOOL WINAPI SupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD, LPDWORD)
    {
        if (request != HSE_REQ_SEND_RESPONSE_HEADER_EX)
            return FALSE;
        auto* self = static_cast<KeptAnswer*>(connection);
        const auto* info = static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer);
        self->answer_.status = static_cast<int>(strtol(info->pszStatus, nullptr, 10));
        // "Name: value" lines up to the blank one.
        std::string_view block(info->pszHeader, info->cchHeader);
        for (size_t end; (end = block.find("\r\n")) != std::string_view::npos && end > 0; block.remove_prefix(end + 2)) {
            std::string_view line = block.substr(0, end);
            size_t colon = line.find(": ");
            if (colon != std::string_view::npos)
                self->answer_.headers.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 2)));
        }
        return TRUE;
    }
    static BOOL WINAPI Write(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD)
    {
        static_cast<KeptAnswer*>(connection)->answer_.body.append(static_cast<const char*>(buffer), *bytes);
        return TRUE;
    }

    EXTENSION_CONTROL_BLOCK ecb_{};
    HttpAnswer answer_;
};

HttpAnswer ExtensionPage(const char* status, const char* message)
{
    KeptAnswer kept;
    RequestContext(kept.Ecb()).SendErrorPage(status, message);
    return kept.Answer();
}

// The auth command's two answers.
constexpr char kAuthSucceeded[] = "{\"succeeded\": true}\r\n";
constexpr char kAuthFailed[] = "{\"succeeded\": false}\r\n";

struct Pages {
    HttpAnswer httpsRequired = ExtensionPage("403 Forbidden", "HTTPS required");
    HttpAnswer postRequired = ExtensionPage("405 Method Not Allowed", "POST method required");
    HttpAnswer authenticationRequired = ExtensionPage("401 Unauthorized", "Authentication required");
    HttpAnswer invalidCredentials = ExtensionPage("401 Unauthorized", "Invalid username or password");
    HttpAnswer invalidCommand = ExtensionPage("400 Bad Request", "Invalid command");
    HttpAnswer internalError = ExtensionPage("500 Internal Server Error", "Internal server error");
};

const std::string kNoHeader;

const std::string& HeaderOr(const HttpAnswer& answer, std::string_view name)
{
    const std::string* value = answer.Header(name);
    return value ? *value : kNoHeader;
}

// Every value of a header that may come more than once.
std::string AllValues(const HttpAnswer& answer, std::string_view name)
{
    std::string values;
    for (const auto& [field, value] : answer.headers)
        if (EqualsIgnoringAsciiCase(field, name))
            values += (values.empty() ? "" : ", ") + value;
    return values;
}

// The header that only the extension's answer of this status carries.
std::string_view SignatureHeader(int status)
{
    return status == 405 ? "Allow" : status == 401 ? "WWW-Authenticate" : "";
}

bool SameHeader(const HttpAnswer& got, const HttpAnswer& page, std::string_view name)
{
    return HeaderOr(got, name) == HeaderOr(page, name);
}

// The extension's page exactly: status, body, content type and the header
// that belongs to the status.
bool IsPage(const HttpAnswer& got, const HttpAnswer& page)
{
    std::string_view signature = SignatureHeader(page.status);
    return got.status == page.status && got.body == page.body && SameHeader(got, page, "Content-Type") &&
           (signature.empty() || SameHeader(got, page, signature));
}

// The page's message, as the report quotes it.
std::string Message(const HttpAnswer& page)
{
    size_t start = page.body.find("<h1>") + 4;
    return page.body.substr(start, page.body.find("</h1>") - start);
}

std::string Describe(const HttpAnswer& page)
{
    std::string text = "the extension's " + std::to_string(page.status) + " page, \"" + Message(page) + "\"";
    std::string_view signature = SignatureHeader(page.status);
    if (!signature.empty())
        text += ", with " + std::string(signature) + ": " + HeaderOr(page, signature);
    return text;
}

constexpr char kPassThrough[] =
    "IIS replaces the extension's error answers with its own pages: set httpErrors existingResponse=\"PassThrough\" "
    "(section 11 of docs/iis.md)";

// IIS's sub-status, when its page names one ("HTTP Error 404.3", "404.2 - Not Found").
int SubStatus(const HttpAnswer& answer)
{
    std::string code = std::to_string(answer.status) + ".";
    for (size_t at = answer.body.find(code); at != std::string::npos; at = answer.body.find(code, at + 1)) {
        size_t digits = at + code.size();
        if ((at > 0 && isdigit(static_cast<unsigned char>(answer.body[at - 1]))) || digits >= answer.body.size() ||
            !isdigit(static_cast<unsigned char>(answer.body[digits])))
            continue;
        return static_cast<int>(strtol(answer.body.c_str() + digits, nullptr, 10));
    }
    return -1;
}

std::string StatusText(const HttpAnswer& answer)
{
    int sub = SubStatus(answer);
    return std::to_string(answer.status) + (sub >= 0 ? "." + std::to_string(sub) : "");
}

// The likely cause of an answer that is not the extension's, by what IIS
// answers when a step of docs/iis.md is missing.
std::string CauseOf(const HttpAnswer& answer)
{
    int sub = SubStatus(answer);
    switch (answer.status) {
    case 401:
        if (sub == 2)
            return "Anonymous authentication is off (section 9)";
        if (sub == 3)
            return "the file rights deny the request's account (sections 9 and 10)";
        return "IIS authentication answers, not the extension (WWW-Authenticate: " +
               (AllValues(answer, "WWW-Authenticate").empty() ? std::string("none") : AllValues(answer, "WWW-Authenticate")) +
               "): Basic or Windows authentication is on; only Anonymous may be (section 9)";
    case 403:
        if (sub == 1)
            return "Execute is missing from the handler's access policy (section 7)";
        if (sub == 4)
            return "Require SSL refused a request over plain HTTP (section 8)";
        if (sub >= 501 && sub <= 503)
            return "a dynamic or static IP restriction refused this address (section 14)";
        return "the web server forbids the request (sections 7 and 14)";
    case 404:
        if (sub == 2)
            return "ISAPI and CGI Restrictions do not allow the DLL, or name another path (section 6)";
        if (sub == 3 || sub == 4)
            return "no handler mapping takes the request (section 7)";
        if (sub == 13)
            return "the body is over the request limit (section 14)";
        return "the URL reaches no handler: check the path, the application and the handler mapping (sections 5 and 7)";
    case 405:
        return "the web server refuses the method itself: the handler mapping's verbs (section 7)";
    case 500:
        if (sub == 19)
            return "a locked section was written to a web.config (section 12)";
        if (sub == 21)
            return "the module is not recognised: the ISAPI Extensions role service is missing (section 3)";
        return "the extension did not load or failed: run tessaline-doctor on the server (sections 2 and 15)";
    case 503:
        return "the application pool is stopped (section 15)";
    default:
        if (answer.status >= 200 && answer.status < 300)
            return "something other than the extension answers (section 7)";
        return "an answer that is not the extension's (section 15)";
    }
}

// The verdict on an answer that should have been `page`.
void JudgeErrorAnswer(Report& report, const std::string& step, const HttpAnswer& got, const HttpAnswer& page)
{
    if (IsPage(got, page)) {
        report.Add(step, Outcome::kOk, Describe(page));
        return;
    }
    std::string_view signature = SignatureHeader(page.status);
    bool extensionsStatus = got.status == page.status && (signature.empty() || SameHeader(got, page, signature));
    if (extensionsStatus) {
        report.Add(step, Outcome::kFailed,
                   std::to_string(got.status) + " as the extension answers, but not its page: " + kPassThrough);
        return;
    }
    report.Add(step, Outcome::kFailed,
               StatusText(got) + " instead of " + Describe(page) + ": " + CauseOf(got));
}

// A 405 without the extension's page or its Allow: POST comes from IIS's
// verbs, or is the extension's own answer replaced with Allow lost on the
// way; the other steps tell which.
void SettleReplaced405(Report& report, const std::string& step)
{
    bool replaced = false;
    for (const Step& other : report.steps)
        replaced = replaced || other.detail.find(kPassThrough) != std::string::npos;
    for (Step& candidate : report.steps) {
        if (candidate.name != step || candidate.outcome != Outcome::kFailed || candidate.detail.rfind("405 ", 0) != 0)
            continue;
        if (replaced)
            candidate.detail = "405 without the extension's page or its Allow: POST, while the other steps show that " +
                               std::string(kPassThrough);
        else
            candidate.detail += "; or, when IIS drops the Allow header of answers it replaces: " + std::string(kPassThrough);
    }
}

std::string Base64(const std::string& bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[group >> 18];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
    }
    return out;
}

std::string PercentEncoded(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

class Prober {
public:
    Prober(const DoctorOptions& options, const CheckPasswords& passwords, const ProbeUrl& url, ProbeTransport& transport)
        : options_(options), passwords_(passwords), url_(url), transport_(transport)
    {
    }

    Report Run()
    {
        report_.url = options_.probe;
        bool connected = CheckTls();
        CheckPlainHttp();
        if (!connected)
            return report_;
        CheckGet();
        CheckAnonymousPost();
        CheckInvalidCommand();
        CheckList();
        if (!options_.checkAuth.empty())
            CheckAuth();
        SettleReplaced405(report_, "get");
        return report_;
    }

private:
    // False when no TLS connection can be made at all.
    bool CheckTls()
    {
        TlsFacts facts;
        std::string error;
        Connection connection = transport_.Handshake(true, facts, error);
        std::string trustedBy = options_.caFile.empty() ? "the system's trust store" : options_.caFile;
        if (connection == Connection::kUntrusted) {
            report_.Add("tls", Outcome::kFailed,
                        "the certificate does not verify against " + trustedBy + " for " + url_.host + ": " + error +
                            "\nthe caller's password is not sent; the steps without it go on unverified");
            connection = transport_.Handshake(false, facts, error);
            if (connection != Connection::kAnswered)
                return false;
        } else if (connection != Connection::kAnswered) {
            report_.Add("tls", Outcome::kFailed, error);
            return false;
        } else {
            trusted_ = true;
            std::string detail = (facts.protocol.empty() ? std::string("TLS (this system does not say which version)") : facts.protocol) + ", certificate " +
                                 facts.subject + " verified for " + url_.host + " by " + trustedBy + ", expires in " +
                                 std::to_string(facts.daysLeft) + " days";
            if (facts.daysLeft < kExpiryWarningDays)
                report_.Add("tls", Outcome::kWarning, detail + ": renew it (section 8)");
            else
                report_.Add("tls", Outcome::kOk, detail);
        }
        if (!facts.http2Known)
            report_.Add("http2", Outcome::kWarning, "this system cannot offer HTTP/2, so whether the server would choose it is not known");
        else if (facts.http2)
            report_.Add("http2", Outcome::kWarning,
                        "the server chooses HTTP/2, where the extension's Connection: close makes the answer malformed "
                        "for strict clients: disable HTTP/2 for the binding, or call with HTTP/1.1 (section 15)");
        else
            report_.Add("http2", Outcome::kOk, "HTTP/1.1: the server does not choose HTTP/2");
        return true;
    }

    void CheckPlainHttp()
    {
        uint16_t port = options_.httpPort ? options_.httpPort : url_.portGiven ? url_.port : 80;
        std::string where = "http://" + url_.host + ":" + std::to_string(port) + url_.path;
        HttpRequest request;
        request.method = "POST";
        request.form = "cmd=list";
        HttpAnswer answer;
        std::string error;
        switch (transport_.Http(port, request, answer, error)) {
        case Connection::kRefused:
            report_.Add("plain-http", Outcome::kOk, where + ": connection refused: nothing serves plain HTTP there");
            return;
        case Connection::kNotHttp:
            report_.Add("plain-http", Outcome::kOk, where + ": the port speaks only TLS");
            return;
        case Connection::kAnswered:
            break;
        default:
            report_.Add("plain-http", Outcome::kWarning, where + ": " + error);
            return;
        }
        if (IsPage(answer, pages_.httpsRequired)) {
            report_.Add("plain-http", Outcome::kOk,
                        where + ": " + Describe(pages_.httpsRequired) +
                            ": Require SSL is off, the extension refuses plain HTTP itself");
        } else if (answer.status == 403 && SubStatus(answer) == 4) {
            report_.Add("plain-http", Outcome::kOk, where + ": IIS's 403.4: Require SSL is on");
        } else if (answer.status == 200 || answer.status == 401) {
            report_.Add("plain-http", Outcome::kFailed,
                        where + ": answered " + std::to_string(answer.status) +
                            ": the extension is reached over plain HTTP, where credentials travel readable: "
                            "TLS must end at IIS, and Require SSL be on (section 8)");
        } else {
            report_.Add("plain-http", Outcome::kOk,
                        where + ": answered " + StatusText(answer) + ", not the extension");
        }
    }

    // An HTTPS exchange whose failure to connect, or whose body went on past
    // what the probe keeps, is reported as the step's.
    bool Send(const std::string& step, const HttpRequest& request, HttpAnswer& answer)
    {
        std::string error;
        Connection connection = transport_.Https(request, trusted_, answer, error);
        if (connection == Connection::kAnswered && answer.bodyCutOff && !request.bodyReader) {
            report_.Add(step, Outcome::kFailed,
                        StatusText(answer) + " with a body longer than " + std::to_string(kLongestKeptBody) +
                            " bytes, which the probe does not read further");
            return false;
        }
        if (connection == Connection::kAnswered)
            return true;
        if (connection == Connection::kUntrusted)
            report_.Add(step, Outcome::kFailed, "the certificate of this connection did not verify: " + error);
        else
            report_.Add(step, Outcome::kFailed, error.empty() ? std::string("no answer") : error);
        return false;
    }

    // The caller's credentials go only where the certificate verified.
    bool MaySendPassword(const std::string& step)
    {
        if (trusted_)
            return true;
        report_.Add(step, Outcome::kFailed, "not run: the certificate did not verify, and the password is not sent to it");
        return false;
    }

    // A command posted with the caller's credentials.
    HttpRequest CallerPost(std::string form) const
    {
        HttpRequest request;
        request.method = "POST";
        request.authorization = "Basic " + Base64(options_.caller + ":" + *passwords_.caller);
        request.form = std::move(form);
        return request;
    }

    void CheckGet()
    {
        HttpRequest request;
        HttpAnswer answer;
        if (Send("get", request, answer))
            JudgeErrorAnswer(report_, "get", answer, pages_.postRequired);
    }

    void CheckAnonymousPost()
    {
        HttpRequest request;
        request.method = "POST";
        request.form = "cmd=list";
        HttpAnswer answer;
        if (Send("post-anonymous", request, answer))
            JudgeErrorAnswer(report_, "post-anonymous", answer, pages_.authenticationRequired);
    }

    // An answer to the caller's request that says the caller was refused, by
    // the extension or by IIS; false when it is none of those.
    bool CallerRefused(const std::string& step, const HttpAnswer& answer)
    {
        if (IsPage(answer, pages_.invalidCredentials)) {
            report_.caller = "refused";
            report_.Add(step, Outcome::kFailed,
                        Describe(pages_.invalidCredentials) + ": the extension refused the caller " + options_.caller +
                            ": tessaline-doctor --check-caller on the server says which check fails");
            return true;
        }
        if (IsPage(answer, pages_.authenticationRequired)) {
            report_.Add(step, Outcome::kFailed,
                        Describe(pages_.authenticationRequired) +
                            ": the caller's Authorization header did not reach the extension");
            return true;
        }
        if (answer.status != 401)
            return false;
        if (SameHeader(answer, pages_.invalidCredentials, "WWW-Authenticate"))
            report_.Add(step, Outcome::kFailed, "401 as the extension answers, but not its page: " + std::string(kPassThrough));
        else
            report_.Add(step, Outcome::kFailed, "401 instead of the extension's answer: " + CauseOf(answer));
        return true;
    }

    // A command answered with anything but 200.
    void ReportNot200(const std::string& step, const HttpAnswer& answer)
    {
        if (IsPage(answer, pages_.internalError))
            report_.Add(step, Outcome::kFailed,
                        Describe(pages_.internalError) +
                            ": the command cannot run on the server: tessaline-doctor there names the cause "
                            "(its entry-point steps, settings-file and list)");
        else
            report_.Add(step, Outcome::kFailed, StatusText(answer) + " instead of 200: " + CauseOf(answer));
    }

    void CheckInvalidCommand()
    {
        if (!MaySendPassword("invalid-command"))
            return;
        HttpRequest request = CallerPost("cmd=nope");
        HttpAnswer answer;
        if (!Send("invalid-command", request, answer) || CallerRefused("invalid-command", answer))
            return;
        report_.caller = "ok";
        JudgeErrorAnswer(report_, "invalid-command", answer, pages_.invalidCommand);
    }

    void CheckList()
    {
        if (!MaySendPassword("list"))
            return;
        HttpRequest request = CallerPost("cmd=list");
        HttpAnswer answer;
        auto start = std::chrono::steady_clock::now();
        if (!Send("list", request, answer))
            return;
        long milliseconds = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        if (CallerRefused("list", answer))
            return;
        if (answer.status != 200) {
            ReportNot200("list", answer);
            return;
        }
        if (HeaderOr(answer, "Content-Type") != kJsonContentType) {
            report_.Add("list", Outcome::kFailed,
                        "200 with Content-Type \"" + HeaderOr(answer, "Content-Type") + "\" instead of \"" +
                            kJsonContentType + "\": " + CauseOf(answer));
            return;
        }
        ListFigures figures;
        std::string error;
        if (!CheckListAnswer(answer.body, figures, error)) {
            report_.Add("list", Outcome::kFailed, "the body does not match the AccountList schema: " + error);
            return;
        }
        report_.accounts = figures.accounts;
        report_.aliases = figures.aliases;
        std::string detail = std::to_string(figures.accounts) + " accounts, " + std::to_string(figures.aliases) +
                             " aliases, " + std::to_string(answer.body.size()) + " bytes in " +
                             std::to_string(milliseconds) + " ms";
        if (figures.nonAsciiAddresses.empty()) {
            report_.Add("list", Outcome::kOk, detail);
            return;
        }
        detail += "; " + std::to_string(figures.nonAsciiAddresses.size()) +
                  " addresses are not ASCII and come in the server's code page, so a strict UTF-8 client rejects "
                  "the body (docs/api.md):";
        for (const std::string& address : figures.nonAsciiAddresses)
            detail += "\n" + address;
        report_.Add("list", Outcome::kWarning, detail);
    }

    void CheckAuth()
    {
        if (!MaySendPassword("auth"))
            return;
        HttpRequest request =
            CallerPost("cmd=auth&user=" + PercentEncoded(options_.checkAuth) + "&pass=" + PercentEncoded(*passwords_.auth));
        HttpAnswer answer;
        if (!Send("auth", request, answer) || CallerRefused("auth", answer))
            return;
        bool json = answer.status == 200 && HeaderOr(answer, "Content-Type") == kJsonContentType;
        if (json && answer.body == kAuthSucceeded) {
            report_.auth = "succeeded";
            report_.Add("auth", Outcome::kOk, options_.checkAuth + ": {\"succeeded\": true}");
        } else if (json && answer.body == kAuthFailed) {
            report_.auth = "failed";
            report_.Add("auth", Outcome::kFailed,
                        options_.checkAuth +
                            ": {\"succeeded\": false}: tessaline-doctor --check-auth on the server says why");
        } else if (answer.status == 200) {
            report_.Add("auth", Outcome::kFailed, "200 but not the auth command's answer: " + CauseOf(answer));
        } else {
            ReportNot200("auth", answer);
        }
    }

    static constexpr long kExpiryWarningDays = 30;

    const DoctorOptions& options_;
    const CheckPasswords& passwords_;
    const ProbeUrl& url_;
    ProbeTransport& transport_;
    Pages pages_;
    Report report_;
    bool trusted_ = false;
};

} // namespace

bool ParseProbeUrl(const std::string& text, ProbeUrl& url, std::string& error)
{
    constexpr std::string_view kScheme = "https://";
    error = "--probe takes the extension's URL, https://host[:port]/path/TessalineIntegration.dll";
    if (!StartsWithIgnoringAsciiCase(text, kScheme))
        return false;
    std::string_view rest = std::string_view(text).substr(kScheme.size());
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    url.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
    std::string_view port;
    bool hasPort = false;
    if (authority.starts_with('[')) {
        size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        url.host = std::string(authority.substr(1, close - 1));
        authority.remove_prefix(close + 1);
        hasPort = authority.starts_with(':');
        if (hasPort)
            port = authority.substr(1);
        else if (!authority.empty())
            return false;
    } else {
        size_t colon = authority.find(':');
        url.host = std::string(authority.substr(0, colon));
        hasPort = colon != std::string_view::npos;
        if (hasPort)
            port = authority.substr(colon + 1);
    }
    if (url.host.empty() || url.host.find('@') != std::string::npos)
        return false;
    url.portGiven = hasPort;
    if (url.portGiven) {
        unsigned long number = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || (number = number * 10 + static_cast<unsigned long>(c - '0')) > 65535)
                return false;
        }
        if (port.empty() || number == 0)
            return false;
        url.port = static_cast<uint16_t>(number);
    }
    error.clear();
    return true;
}

Report Probe(const DoctorOptions& options, const CheckPasswords& passwords, const ProbeUrl& url,
             ProbeTransport& transport)
{
    return Prober(options, passwords, url, transport).Run();
}
