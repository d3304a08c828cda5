#include "doctor/probe.h"

#include "doctor/extension_answers.h"
#include "doctor/iis_answers.h"
#include "doctor/list_answer.h"
#include "doctor/request_encoding.h"
#include "doctor/vantage.h"
#include "platform/ascii.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <optional>

namespace {

constexpr char kPassThrough[] =
    "IIS replaces the extension's error answers with its own pages: set httpErrors existingResponse=\"PassThrough\" "
    "(section 11 of docs/iis.md)";

// The extension's pages that the steps expect, made once.
struct Pages {
    HttpAnswer httpsRequired = ExpectedPage(kHttpsRequired);
    HttpAnswer postRequired = ExpectedPage(kPostRequired);
    HttpAnswer authenticationRequired = ExpectedPage(kAuthenticationRequired);
    HttpAnswer invalidCredentials = ExpectedPage(kInvalidCredentials);
    HttpAnswer invalidCommand = ExpectedPage(kInvalidCommand);
    HttpAnswer internalError = ExpectedPage(kInternalError);
};

// A step's finding, and whether it saw the extension's status on a page
// that is not the extension's: a front that replaces error pages.
struct Judged {
    Step step;
    bool replaced = false;
};

Step Ok(const char* name, std::string detail)
{
    return {name, Outcome::kOk, std::move(detail)};
}
Step Warn(const char* name, std::string detail)
{
    return {name, Outcome::kWarning, std::move(detail)};
}
Step Failed(const char* name, std::string detail)
{
    return {name, Outcome::kFailed, std::move(detail)};
}

std::string CutOffNote(const HttpAnswer& got)
{
    return got.bodyCutOff ? " (its body went on past " + std::to_string(kLongestKeptBody) +
                                " bytes and was read no further)"
                          : "";
}

// The verdict on an answer that should have been `page`.
Judged JudgeErrorAnswer(const char* name, const HttpAnswer& got, const HttpAnswer& page)
{
    switch (Compare(got, page)) {
    case PageMatch::kSame: return {Ok(name, Describe(page))};
    case PageMatch::kStatusOnly:
        return {Failed(name, std::to_string(got.status) + " as the extension answers, but not its page" +
                                 CutOffNote(got) + ": " + kPassThrough),
                true};
    case PageMatch::kDifferent: break;
    }
    return {Failed(name, StatusText(got) + " instead of " + Describe(page) + CutOffNote(got) + ": " + CauseOf(got))};
}

// A 405 without the extension's page or its Allow: POST comes from IIS's
// verbs, or is the extension's own answer replaced with Allow lost on the
// way; whether other steps saw pages replaced tells which.
Step JudgeGet(const HttpAnswer& got, const HttpAnswer& page, bool replacedElsewhere)
{
    Judged judged = JudgeErrorAnswer("get", got, page);
    if (judged.step.outcome != Outcome::kFailed || judged.replaced || got.status != 405)
        return judged.step;
    if (replacedElsewhere)
        return Failed("get", "405 without the extension's page or its Allow: POST, while the other steps show that " +
                                 std::string(kPassThrough));
    judged.step.detail += "; or, when IIS drops the Allow header of answers it replaces: " + std::string(kPassThrough);
    return judged.step;
}

// list's body goes to the schema check as it arrives, when the head says
// it is list's answer; any other body is kept, as a page is.
class ListBody : public BodyReader {
public:
    explicit ListBody(const HttpAnswer& answer) : answer_(answer) {}

    bool Take(std::string_view bytes) override
    {
        if (!IsListAnswer())
            return KeepBody(kept_, bytes);
        read_ += bytes.size();
        if (read_ > kLongestListAnswer) {
            tooLong_ = true;
            return false;
        }
        return check_.Take(bytes);
    }
    bool IsListAnswer() const
    {
        return answer_.status == 200 && HeaderOr(answer_, "Content-Type") == kJsonContentType;
    }
    // The body kept when it was not list's answer.
    std::string& Kept() { return kept_.body; }
    bool TooLong() const { return tooLong_; }
    ListAnswerCheck& Check() { return check_; }

private:
    const HttpAnswer& answer_;
    HttpAnswer kept_;
    ListAnswerCheck check_;
    uint64_t read_ = 0;
    bool tooLong_ = false;
};

class Prober {
public:
    Prober(const DoctorOptions& options, const CheckPasswords& passwords, const ProbeUrl& url, ProbeTransport& transport)
        : options_(options), passwords_(passwords), url_(url), transport_(transport)
    {
    }

    Report Run()
    {
        report_.url = options_.probe;
        report_.probedFrom = AddressOfThisMachine(url_.host);
        if (!report_.probedFrom.empty())
            report_.steps.push_back(FromThisMachine(report_.probedFrom));
        std::optional<TlsFacts> tls = CheckTls();
        if (tls)
            report_.steps.push_back(CheckHttp2(*tls));
        report_.steps.push_back(CheckPlainHttp());
        if (!tls)
            return std::move(report_);

        Step getFailure;
        std::optional<HttpAnswer> get = Send("get", GetRequest(), getFailure);
        Judged anonymous = CheckAnonymousPost();
        Judged invalidCommand = CheckInvalidCommand();
        Judged list = CheckList();
        std::optional<Judged> auth;
        if (!options_.checkAuth.empty())
            auth = CheckAuth();

        bool replaced = anonymous.replaced || invalidCommand.replaced || list.replaced || (auth && auth->replaced);
        report_.steps.push_back(get ? JudgeGet(*get, pages_.postRequired, replaced) : getFailure);
        for (Judged* judged : {&anonymous, &invalidCommand, &list})
            report_.steps.push_back(judged->step);
        if (auth)
            report_.steps.push_back(auth->step);
        return std::move(report_);
    }

private:
    static Step FromThisMachine(const std::string& address)
    {
        return Warn("vantage",
                    "the probe runs on the server itself (" + address +
                        " is this machine's): IIS answers a local request apart from a remote one, with its detailed "
                        "error pages and, by default, without replacing the extension's; what the integrating "
                        "application gets is shown only by a probe from its machine (section 15)");
    }

    // The facts of a handshake, or nothing when no TLS connection can be
    // made at all; the step goes into the report either way.
    std::optional<TlsFacts> CheckTls()
    {
        TlsFacts facts;
        std::string error;
        Connection connection = transport_.Handshake(true, facts, error);
        std::string trustedBy = options_.caFile.empty() ? "the system's trust store" : options_.caFile;
        if (connection == Connection::kUntrusted) {
            report_.steps.push_back(
                Failed("tls", "the certificate does not verify against " + trustedBy + " for " + url_.host + ": " +
                                  error + "\nthe caller's password is not sent; the steps without it go on unverified"));
            if (transport_.Handshake(false, facts, error) != Connection::kAnswered)
                return std::nullopt;
            return facts;
        }
        if (connection != Connection::kAnswered) {
            report_.steps.push_back(Failed("tls", error));
            return std::nullopt;
        }
        trusted_ = true;
        std::string detail = (facts.protocol.empty() ? std::string("TLS (this system does not say which version)")
                                                     : facts.protocol) +
                             ", certificate " + facts.subject + " verified for " + url_.host + " by " + trustedBy +
                             ", expires in " + std::to_string(facts.daysLeft) + " days";
        if (facts.daysLeft < kExpiryWarningDays)
            report_.steps.push_back(Warn("tls", detail + ": renew it (section 8)"));
        else
            report_.steps.push_back(Ok("tls", detail));
        return facts;
    }

    static Step CheckHttp2(const TlsFacts& facts)
    {
        if (!facts.http2Known)
            return Warn("http2", "this system cannot offer HTTP/2, so whether the server would choose it is not known");
        if (facts.http2)
            return Warn("http2", "the server chooses HTTP/2, where the extension's Connection: close makes the answer "
                                 "malformed for strict clients: disable HTTP/2 for the binding, or call with HTTP/1.1 "
                                 "(section 15)");
        return Ok("http2", "HTTP/1.1: the server does not choose HTTP/2");
    }

    Step CheckPlainHttp()
    {
        uint16_t port = options_.httpPort ? options_.httpPort : url_.portGiven ? url_.port : 80;
        std::string where = "http://" + url_.host + ":" + std::to_string(port) + url_.path + ": ";
        HttpRequest request;
        request.method = "POST";
        request.form = "cmd=list";
        HttpAnswer answer;
        std::string error;
        switch (transport_.Http(port, request, answer, error)) {
        case Connection::kRefused: return Ok("plain-http", where + "connection refused: nothing serves plain HTTP there");
        case Connection::kNotHttp: return Ok("plain-http", where + "the port speaks only TLS");
        case Connection::kAnswered: break;
        default: return Warn("plain-http", where + error);
        }
        if (Compare(answer, pages_.httpsRequired) == PageMatch::kSame)
            return Ok("plain-http", where + Describe(pages_.httpsRequired) +
                                        ": Require SSL is off, the extension refuses plain HTTP itself");
        if (answer.status == 403 && ReadIisPage(answer).subStatus == 4)
            return Ok("plain-http", where + "IIS's 403.4: Require SSL is on");
        bool extensionsChallenge = answer.status == 401 && HeaderOr(answer, "WWW-Authenticate") == kBasicChallenge;
        if (answer.status == 200 || extensionsChallenge)
            return Failed("plain-http", where + "answered " + std::to_string(answer.status) +
                                            ": the extension is reached over plain HTTP, where credentials travel "
                                            "readable: TLS must end at IIS, and Require SSL be on (section 8)");
        if (answer.status == 401)
            return Failed("plain-http", where + "answered 401, not with the extension's challenge: " + CauseOf(answer) +
                                            "; plain HTTP is answered, not refused: Require SSL must be on (section 8)");
        return Ok("plain-http", where + "answered " + StatusText(answer) + ", not the extension");
    }

    // An HTTPS exchange; its failure to connect or to be answered in time
    // is the step's finding, given in `failure`.
    std::optional<HttpAnswer> Send(const char* name, const HttpRequest& request, Step& failure)
    {
        HttpAnswer answer;
        std::string error;
        Connection connection = transport_.Https(request, trusted_, answer, error);
        if (connection == Connection::kAnswered)
            return answer;
        failure = Unanswered(name, connection, error);
        return std::nullopt;
    }

    static Step Unanswered(const char* name, Connection connection, const std::string& error)
    {
        return Failed(name, connection == Connection::kUntrusted ? "the certificate of this connection did not verify: " + error
                            : error.empty()                      ? std::string("no answer")
                                                                 : error);
    }

    static HttpRequest GetRequest() { return HttpRequest{}; }

    Judged CheckAnonymousPost()
    {
        HttpRequest request;
        request.method = "POST";
        request.form = "cmd=list";
        Step failure;
        std::optional<HttpAnswer> answer = Send("post-anonymous", request, failure);
        if (!answer)
            return {failure};
        return JudgeErrorAnswer("post-anonymous", *answer, pages_.authenticationRequired);
    }

    // The caller's credentials go only where the certificate verified.
    bool MaySendPassword() const { return trusted_; }

    static Judged NotRun(const char* name)
    {
        return {Failed(name, "not run: the certificate did not verify, and the password is not sent to it")};
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

    // An answer to the caller's request that says the caller was refused, by
    // the extension or by IIS; nothing when it is none of those.
    std::optional<Judged> CallerRefused(const char* name, const HttpAnswer& answer)
    {
        if (Compare(answer, pages_.invalidCredentials) == PageMatch::kSame) {
            report_.caller = "refused";
            return Judged{Failed(name, Describe(pages_.invalidCredentials) + ": the extension refused the caller " +
                                           options_.caller +
                                           ": tessaline-doctor --check-caller on the server says which check fails")};
        }
        if (Compare(answer, pages_.authenticationRequired) == PageMatch::kSame)
            return Judged{Failed(name, Describe(pages_.authenticationRequired) +
                                           ": the caller's Authorization header did not reach the extension")};
        if (answer.status != 401)
            return std::nullopt;
        if (Compare(answer, pages_.invalidCredentials) == PageMatch::kStatusOnly)
            return Judged{Failed(name, "401 as the extension answers, but not its page: " + std::string(kPassThrough)),
                          true};
        return Judged{Failed(name, "401 instead of the extension's answer: " + CauseOf(answer))};
    }

    // A command answered with anything but 200. IIS's own 500 pages carry
    // no header that tells them from a replaced one of the extension's.
    Judged Not200(const char* name, const HttpAnswer& answer)
    {
        if (Compare(answer, pages_.internalError) == PageMatch::kSame)
            return {Failed(name, Describe(pages_.internalError) +
                                     ": the command cannot run on the server: tessaline-doctor there names the cause "
                                     "(its entry-point steps, settings-file and list)")};
        return {Failed(name, StatusText(answer) + " instead of 200: " + CauseOf(answer))};
    }

    Judged CheckInvalidCommand()
    {
        if (!MaySendPassword())
            return NotRun("invalid-command");
        Step failure;
        std::optional<HttpAnswer> answer = Send("invalid-command", CallerPost("cmd=nope"), failure);
        if (!answer)
            return {failure};
        if (std::optional<Judged> refused = CallerRefused("invalid-command", *answer))
            return *refused;
        report_.caller = "ok";
        return JudgeErrorAnswer("invalid-command", *answer, pages_.invalidCommand);
    }

    Judged CheckList()
    {
        if (!MaySendPassword())
            return NotRun("list");
        HttpRequest request = CallerPost("cmd=list");
        request.deadline = kListDeadline;
        HttpAnswer answer;
        ListBody body(answer);
        request.bodyReader = &body;
        std::string error;
        auto start = std::chrono::steady_clock::now();
        Connection connection = transport_.Https(request, trusted_, answer, error);
        long milliseconds = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        if (connection != Connection::kAnswered && !body.IsListAnswer())
            return {Unanswered("list", connection, error)};
        if (!body.IsListAnswer()) {
            answer.body = std::move(body.Kept());
            if (std::optional<Judged> refused = CallerRefused("list", answer))
                return *refused;
            if (answer.status != 200)
                return Not200("list", answer);
            return {Failed("list", "200 with Content-Type \"" + HeaderOr(answer, "Content-Type") + "\" instead of \"" +
                                       kJsonContentType + "\": " + CauseOf(answer))};
        }
        ListAnswerCheck& check = body.Check();
        if (body.TooLong())
            return {Failed("list", "the answer went on past " + std::to_string(kLongestListAnswer >> 30) +
                                       " GiB, more than any list of accounts, and was read no further")};
        if (!check.Error().empty() || (connection == Connection::kAnswered && !check.Finish()))
            return {Failed("list", "the body does not match the AccountList schema: " + check.Error())};
        if (connection != Connection::kAnswered)
            return {Failed("list", error + "; what came of the body matches the AccountList schema so far")};
        const ListFigures& figures = check.Figures();
        report_.accounts = figures.accounts;
        report_.aliases = figures.aliases;
        std::string detail = std::to_string(figures.accounts) + " accounts, " + std::to_string(figures.aliases) +
                             " aliases, " + std::to_string(answer.bodyBytes) + " bytes in " +
                             std::to_string(milliseconds) + " ms";
        if (figures.nonAsciiAddresses == 0)
            return {Ok("list", detail)};
        detail += "; " + std::to_string(figures.nonAsciiAddresses) +
                  " addresses are not ASCII and come in the server's code page, so a strict UTF-8 client rejects "
                  "the body (docs/api.md)" +
                  (figures.nonAsciiAddresses > static_cast<long>(figures.nonAsciiExamples.size()) ? "; the first "
                       + std::to_string(figures.nonAsciiExamples.size()) + ":" : ":");
        for (const std::string& address : figures.nonAsciiExamples)
            detail += "\n" + address;
        return {Warn("list", detail)};
    }

    Judged CheckAuth()
    {
        if (!MaySendPassword())
            return NotRun("auth");
        Step failure;
        std::optional<HttpAnswer> answer = Send(
            "auth",
            CallerPost("cmd=auth&user=" + PercentEncoded(options_.checkAuth) + "&pass=" + PercentEncoded(*passwords_.auth)),
            failure);
        if (!answer)
            return {failure};
        if (std::optional<Judged> refused = CallerRefused("auth", *answer))
            return *refused;
        bool json = answer->status == 200 && HeaderOr(*answer, "Content-Type") == kJsonContentType;
        if (json && answer->body == kAuthSucceeded) {
            report_.auth = "succeeded";
            return {Ok("auth", options_.checkAuth + ": {\"succeeded\": true}")};
        }
        if (json && answer->body == kAuthFailed) {
            report_.auth = "failed";
            return {Failed("auth", options_.checkAuth +
                                       ": {\"succeeded\": false}: tessaline-doctor --check-auth on the server says why")};
        }
        if (answer->status == 200)
            return {Failed("auth", "200 but not the auth command's answer: " + CauseOf(*answer))};
        return Not200("auth", *answer);
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

Report Probe(const DoctorOptions& options, const CheckPasswords& passwords, const ProbeUrl& url,
             ProbeTransport& transport)
{
    return Prober(options, passwords, url, transport).Run();
}
