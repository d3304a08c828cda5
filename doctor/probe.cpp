#include "doctor/probe.h"

#include "doctor/extension_answers.h"
#include "doctor/iis_answers.h"
#include "doctor/list_answer.h"
#include "doctor/request_encoding.h"
#include "doctor/vantage.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <vector>

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

enum class Caller { kUnknown, kAccepted, kRefused };

// A step's finding, and the facts it saw: the extension's status on a page
// that is not the extension's (a front that replaces error pages), what
// became of the caller, auth's answer.
struct Judged {
    Step step;
    bool replaced = false;
    Caller caller = Caller::kUnknown;
    std::string auth; // "succeeded" or "failed" once auth answered
    int status = 0;   // of the answer judged against one of the extension's pages
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
    Judged judged;
    judged.status = got.status;
    switch (Compare(got, page)) {
    case PageMatch::kSame: judged.step = Ok(name, Describe(page)); break;
    case PageMatch::kStatusOnly:
        judged.step = Failed(name, std::to_string(got.status) + " as the extension answers, but not its page" +
                                       CutOffNote(got) + ": " + kPassThrough);
        judged.replaced = true;
        break;
    case PageMatch::kDifferent:
        judged.step = Failed(name, StatusText(got) + " instead of " + Describe(page) + CutOffNote(got) + ": " +
                                       CauseOf(got));
        break;
    }
    return judged;
}

// A 405 without the extension's page or its Allow: POST comes from IIS's
// verbs, or is the extension's own answer replaced with Allow lost on the
// way; whether other steps saw pages replaced tells which.
Step SettleGet(const Judged& get, bool replacedElsewhere)
{
    bool plain405 = get.step.outcome == Outcome::kFailed && !get.replaced && get.status == 405;
    if (!plain405)
        return get.step;
    if (replacedElsewhere)
        return Failed("get", "405 without the extension's page or its Allow: POST, while the other steps show that " +
                                 std::string(kPassThrough));
    return Failed("get", get.step.detail + "; or, when IIS drops the Allow header of answers it replaces: " +
                             std::string(kPassThrough));
}

// list's body goes to the schema check as it arrives, when the head says
// it is list's answer; any other body is kept in the answer, as a page is.
class ListBody : public BodyReader {
public:
    explicit ListBody(HttpAnswer& answer) : answer_(answer) {}

    bool Take(std::string_view bytes) override
    {
        if (!IsListAnswer())
            return KeepBody(answer_, bytes);
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
    bool TooLong() const { return tooLong_; }
    ListAnswerCheck& Check() { return check_; }

private:
    HttpAnswer& answer_;
    ListAnswerCheck check_;
    uint64_t read_ = 0;
    bool tooLong_ = false;
};

// Where the probe runs from: a warning when it is the server itself.
std::optional<Step> VantageStep(const std::string& addressOfThisMachine)
{
    if (addressOfThisMachine.empty())
        return std::nullopt;
    return Warn("vantage",
                "the probe runs on the server itself (" + addressOfThisMachine +
                    " is this machine's): IIS answers a local request apart from a remote one, with its detailed "
                    "error pages and, by default, without replacing the extension's; what the integrating "
                    "application gets is shown only by a probe from its machine (section 15)");
}

// What the TLS step found: its own step, and whether a connection can be
// made at all and whether the certificate verified.
struct TlsChecked {
    Step step;
    std::optional<TlsFacts> facts; // none when no TLS connection can be made
    bool trusted = false;
};

constexpr long kExpiryWarningDays = 30;

TlsChecked CheckTls(const DoctorOptions& options, const ProbeUrl& url, ProbeTransport& transport)
{
    TlsFacts facts;
    std::string error;
    Connection connection = transport.Handshake(true, facts, error);
    std::string trustedBy = options.caFile.empty() ? "the system's trust store" : options.caFile;
    if (connection == Connection::kUntrusted) {
        Step step = Failed("tls", "the certificate does not verify against " + trustedBy + " for " + url.host + ": " +
                                      error + "\nthe caller's password is not sent; the steps without it go on unverified");
        if (transport.Handshake(false, facts, error) != Connection::kAnswered)
            return {step};
        return {step, facts};
    }
    if (connection != Connection::kAnswered)
        return {Failed("tls", error)};
    std::string detail = (facts.protocol.empty() ? std::string("TLS (this system does not say which version)")
                                                 : facts.protocol) +
                         ", certificate " + facts.subject + " verified for " + url.host + " by " + trustedBy +
                         ", expires in " + std::to_string(facts.daysLeft) + " days";
    if (facts.daysLeft < kExpiryWarningDays)
        return {Warn("tls", detail + ": renew it (section 8)"), facts, true};
    return {Ok("tls", detail), facts, true};
}

Step CheckHttp2(const TlsFacts& facts)
{
    if (!facts.http2Known)
        return Warn("http2", "this system cannot offer HTTP/2, so whether the server would choose it is not known");
    if (facts.http2)
        return Warn("http2", "the server chooses HTTP/2, where the extension's Connection: close makes the answer "
                             "malformed for strict clients: disable HTTP/2 for the binding, or call with HTTP/1.1 "
                             "(section 15)");
    return Ok("http2", "HTTP/1.1: the server does not choose HTTP/2");
}

Step CheckPlainHttp(const DoctorOptions& options, const ProbeUrl& url, ProbeTransport& transport, const Pages& pages)
{
    uint16_t port = options.httpPort ? options.httpPort : url.portGiven ? url.port : 80;
    std::string where = "http://" + url.host + ":" + std::to_string(port) + url.path + ": ";
    HttpRequest request;
    request.method = "POST";
    request.form = "cmd=list";
    HttpAnswer answer;
    std::string error;
    switch (transport.Http(port, request, answer, error)) {
    case Connection::kRefused: return Ok("plain-http", where + "connection refused: nothing serves plain HTTP there");
    case Connection::kNotHttp: return Ok("plain-http", where + "the port speaks only TLS");
    case Connection::kAnswered: break;
    default: return Warn("plain-http", where + error);
    }
    if (Compare(answer, pages.httpsRequired) == PageMatch::kSame)
        return Ok("plain-http", where + Describe(pages.httpsRequired) +
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

Step Unanswered(const char* name, Connection connection, const std::string& error)
{
    return Failed(name, connection == Connection::kUntrusted ? "the certificate of this connection did not verify: " + error
                        : error.empty()                      ? std::string("no answer")
                                                             : error);
}

// The steps over HTTPS, once the TLS step has said whether the certificate
// verified; each returns its finding with the facts it saw.
class HttpsSteps {
public:
    HttpsSteps(const DoctorOptions& options, const CheckPasswords& passwords, ProbeTransport& transport,
               const Pages& pages, bool trusted)
        : options_(options), passwords_(passwords), transport_(transport), pages_(pages), trusted_(trusted)
    {
    }

    Judged Get() { return Exchanged("get", HttpRequest{}, pages_.postRequired); }

    Judged AnonymousPost()
    {
        HttpRequest request;
        request.method = "POST";
        request.form = "cmd=list";
        return Exchanged("post-anonymous", request, pages_.authenticationRequired);
    }

    Judged InvalidCommand()
    {
        if (!trusted_)
            return NotRun("invalid-command");
        std::optional<HttpAnswer> answer;
        Judged failure = Send("invalid-command", CallerPost("cmd=nope"), answer);
        if (!answer)
            return failure;
        if (std::optional<Judged> refused = CallerRefused("invalid-command", *answer))
            return *refused;
        Judged judged = JudgeErrorAnswer("invalid-command", *answer, pages_.invalidCommand);
        judged.caller = Caller::kAccepted;
        return judged;
    }

    Judged List(std::optional<ListFigures>& figures)
    {
        if (!trusted_)
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
            if (std::optional<Judged> refused = CallerRefused("list", answer))
                return *refused;
            if (answer.status != 200)
                return Not200("list", answer);
            return {Failed("list", "200 with Content-Type \"" + HeaderOr(answer, "Content-Type") + "\" instead of \"" +
                                       kJsonContentType + "\"" + CutOffNote(answer) + ": " + CauseOf(answer))};
        }
        ListAnswerCheck& check = body.Check();
        if (body.TooLong())
            return {Failed("list", "the answer went on past " + std::to_string(kLongestListAnswer >> 30) +
                                       " GiB, more than any list of accounts, and was read no further")};
        if (!check.Error().empty() || (connection == Connection::kAnswered && !check.Finish()))
            return {Failed("list", "the body does not match the AccountList schema: " + check.Error())};
        if (connection != Connection::kAnswered)
            return {Failed("list", error + "; what came of the body matches the AccountList schema so far")};
        figures = check.Figures();
        return {ListStep(*figures, answer.bodyBytes, milliseconds)};
    }

    Judged Auth()
    {
        if (!trusted_)
            return NotRun("auth");
        std::optional<HttpAnswer> answer;
        Judged failure = Send("auth",
                              CallerPost("cmd=auth&user=" + PercentEncoded(options_.checkAuth) +
                                         "&pass=" + PercentEncoded(*passwords_.auth)),
                              answer);
        if (!answer)
            return failure;
        if (std::optional<Judged> refused = CallerRefused("auth", *answer))
            return *refused;
        bool json = answer->status == 200 && HeaderOr(*answer, "Content-Type") == kJsonContentType;
        if (json && answer->body == kAuthSucceeded) {
            Judged judged{Ok("auth", options_.checkAuth + ": {\"succeeded\": true}")};
            judged.auth = "succeeded";
            return judged;
        }
        if (json && answer->body == kAuthFailed) {
            Judged judged{Failed("auth", options_.checkAuth +
                                             ": {\"succeeded\": false}: tessaline-doctor --check-auth on the server says why")};
            judged.auth = "failed";
            return judged;
        }
        if (answer->status == 200)
            return {Failed("auth", "200 but not the auth command's answer: " + CauseOf(*answer))};
        return Not200("auth", *answer);
    }

private:
    // An HTTPS exchange; its failure to connect or to be answered in time is
    // the step's finding.
    Judged Send(const char* name, const HttpRequest& request, std::optional<HttpAnswer>& answer)
    {
        HttpAnswer got;
        std::string error;
        Connection connection = transport_.Https(request, trusted_, got, error);
        if (connection != Connection::kAnswered)
            return {Unanswered(name, connection, error)};
        answer = std::move(got);
        return {};
    }

    // An exchange that should be answered with one of the extension's pages.
    Judged Exchanged(const char* name, const HttpRequest& request, const HttpAnswer& page)
    {
        std::optional<HttpAnswer> answer;
        Judged failure = Send(name, request, answer);
        return answer ? JudgeErrorAnswer(name, *answer, page) : failure;
    }

    static Judged NotRun(const char* name)
    {
        return {Failed(name, "not run: the certificate did not verify, and the password is not sent to it")};
    }

    // A command posted with the caller's credentials, which go only where
    // the certificate verified.
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
    std::optional<Judged> CallerRefused(const char* name, const HttpAnswer& answer) const
    {
        if (Compare(answer, pages_.invalidCredentials) == PageMatch::kSame) {
            Judged judged{Failed(name, Describe(pages_.invalidCredentials) + ": the extension refused the caller " +
                                           options_.caller +
                                           ": tessaline-doctor --check-caller on the server says which check fails")};
            judged.caller = Caller::kRefused;
            return judged;
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
    Judged Not200(const char* name, const HttpAnswer& answer) const
    {
        if (Compare(answer, pages_.internalError) == PageMatch::kSame)
            return {Failed(name, Describe(pages_.internalError) +
                                     ": the command cannot run on the server: tessaline-doctor there names the cause "
                                     "(its entry-point steps, settings-file and list)")};
        return {Failed(name, StatusText(answer) + " instead of 200: " + CauseOf(answer))};
    }

    static Step ListStep(const ListFigures& figures, uint64_t bytes, long milliseconds)
    {
        std::string detail = std::to_string(figures.accounts) + " accounts, " + std::to_string(figures.aliases) +
                             " aliases, " + std::to_string(bytes) + " bytes in " + std::to_string(milliseconds) + " ms";
        if (figures.nonAsciiAddresses == 0)
            return Ok("list", detail);
        bool some = figures.nonAsciiAddresses > static_cast<long>(figures.nonAsciiExamples.size());
        detail += "; " + std::to_string(figures.nonAsciiAddresses) +
                  " addresses are not ASCII and come in the server's code page, so a strict UTF-8 client rejects "
                  "the body (docs/api.md)" +
                  (some ? "; the first " + std::to_string(figures.nonAsciiExamples.size()) + ":" : ":");
        for (const std::string& address : figures.nonAsciiExamples)
            detail += "\n" + address;
        return Warn("list", detail);
    }

    const DoctorOptions& options_;
    const CheckPasswords& passwords_;
    ProbeTransport& transport_;
    const Pages& pages_;
    const bool trusted_;
};

} // namespace

Report Probe(const DoctorOptions& options, const CheckPasswords& passwords, const ProbeUrl& url,
             ProbeTransport& transport)
{
    Report report;
    report.url = options.probe;
    report.probedFrom = AddressOfThisMachine(url.host);
    if (std::optional<Step> vantage = VantageStep(report.probedFrom))
        report.steps.push_back(*vantage);
    TlsChecked tls = CheckTls(options, url, transport);
    report.steps.push_back(tls.step);
    if (tls.facts)
        report.steps.push_back(CheckHttp2(*tls.facts));
    const Pages pages;
    report.steps.push_back(CheckPlainHttp(options, url, transport, pages));
    if (!tls.facts)
        return report;

    HttpsSteps https(options, passwords, transport, pages, tls.trusted);
    std::optional<ListFigures> figures;
    std::vector<Judged> judged{https.Get(), https.AnonymousPost(), https.InvalidCommand(), https.List(figures)};
    if (!options.checkAuth.empty())
        judged.push_back(https.Auth());

    // The get step's 405 is read in the light of every other step.
    bool replaced = std::any_of(judged.begin() + 1, judged.end(), [](const Judged& j) { return j.replaced; });
    judged.front().step = SettleGet(judged.front(), replaced);
    for (const Judged& one : judged) {
        report.steps.push_back(one.step);
        if (one.caller != Caller::kUnknown && report.caller != "refused")
            report.caller = one.caller == Caller::kRefused ? "refused" : "ok";
        if (!one.auth.empty())
            report.auth = one.auth;
    }
    if (figures) {
        report.accounts = figures->accounts;
        report.aliases = figures->aliases;
    }
    return report;
}
