#include "doctor/iis_answers.h"

#include "extension/fixed_answers.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::string_view kStatusCodes =
    "https://learn.microsoft.com/en-us/troubleshoot/developer/webapps/iis/www-administration-management/http-status-code";
constexpr std::string_view kError404_2 =
    "https://learn.microsoft.com/en-us/troubleshoot/developer/webapps/iis/site-behavior-performance/http-error-402-webpage";
constexpr std::string_view kError404_13 =
    "https://learn.microsoft.com/en-us/troubleshoot/developer/webapps/iis/health-diagnostic-performance/http-404-13-website";
constexpr std::string_view kRequestLimits =
    "https://learn.microsoft.com/en-us/iis/configuration/system.webserver/security/requestfiltering/requestlimits/";
constexpr std::string_view kError500_0 =
    "https://learn.microsoft.com/en-us/troubleshoot/developer/webapps/iis/www-administration-management/http-error-500-when-you-visit-web-site";
constexpr std::string_view kError500_19 =
    "https://learn.microsoft.com/en-us/troubleshoot/developer/webapps/iis/health-diagnostic-performance/http-error-500-19-webpage";
constexpr std::string_view kPoolFailure =
    "https://learn.microsoft.com/en-us/iis/configuration/system.applicationhost/applicationpools/add/failure";

// Ordered by status, sub-status and error code, as the guide lists them.
constexpr IisAnswer kAnswers[] = {
    {401, 1, "", "IIS refused the logon: Basic or Windows authentication is on and checks the caller as a Windows account; only Anonymous may be on", "section 9", kStatusCodes},
    {401, 2, "", "the server's authentication settings refuse the request: Anonymous authentication must be on", "section 9", kStatusCodes},
    {401, 3, "", "the file system rights deny the request's account (IUSR, unless anonymous requests run as the pool identity)", "sections 9 and 10", kStatusCodes},
    {403, 1, "", "Execute access is not granted: Execute is missing from the handler access policy", "section 7", kStatusCodes},
    {403, 4, "", "Require SSL refused a request over plain HTTP", "section 8", kStatusCodes},
    {403, 6, "", "the IP restrictions refuse this client's address", "section 14", kStatusCodes},
    {403, 501, "", "the dynamic IP restrictions refused this address: too many concurrent requests", "section 14", kStatusCodes},
    {403, 502, "", "the dynamic IP restrictions refused this address: too many requests in the interval", "section 14", kStatusCodes},
    {403, 503, "", "this address is in the IP restrictions' deny list", "section 14", kStatusCodes},
    {404, 0, "", "the URL names nothing IIS serves: check the host, the application's path and the DLL's name", "section 5", kStatusCodes},
    {404, 2, "0x800704ec", "ISAPI and CGI Restrictions do not allow the DLL, or name another path than the handler's", "section 6", kError404_2},
    {404, 3, "", "no handler mapping takes the request, so the static file handler refused its type: the mapping is missing, the URL does not end in TessalineIntegration.dll, or a 32-bit pool leaves out the bitness64 mapping", "section 7", kStatusCodes},
    {404, 4, "", "no handler mapping takes the request's file name extension", "section 7", kStatusCodes},
    {404, 6, "", "request filtering denies the request's verb: GET and POST must be allowed", "sections 7 and 14", kStatusCodes},
    {404, 13, "", "the body is larger than request filtering's maxAllowedContentLength", "section 14", kError404_13},
    {405, 0, "", "the handler mapping does not take this verb: it must take every verb (*)", "section 7", kStatusCodes},
    {413, 1, "", "the body is larger than request filtering's maxAllowedContentLength (the code the requestLimits page gives; the status code article gives 404.13)", "section 14", kRequestLimits},
    {500, 0, "", "a module or ISAPI error: the extension did not load, or failed; tessaline-doctor on the server names the step", "sections 2 and 15", kStatusCodes},
    {500, 0, "0x8007000d", "IsapiModule is missing from the site's modules: add it, or install ISAPI Extensions", "section 3", kError500_0},
    {500, 0, "0x8007007f", "the handler mapping points to a DLL that cannot process the request: scriptProcessor must name TessalineIntegration.dll", "section 7", kError500_0},
    {500, 0, "0x800700c1", "the handler's script mapping is not valid: scriptProcessor must name TessalineIntegration.dll", "section 7", kError500_0},
    {500, 19, "0x80070003", "a configuration file cannot be read: its path does not exist, or the rights to it are missing", "section 5", kError500_19},
    {500, 19, "0x80070005", "IIS may not read a configuration file: IIS_IUSRS needs read on the folders of applicationHost.config and of any web.config", "section 10", kError500_19},
    {500, 19, "0x8007000d", "a configuration file holds a malformed element, or one of a module that is not installed", "section 12", kError500_19},
    {500, 19, "0x80070021", "a section locked at a higher level is set in a web.config: set it in applicationHost.config with /commit:apphost", "section 12", kError500_19},
    {500, 19, "0x8007007e", "the configuration names a module or DLL that is not valid or does not exist", "section 7", kError500_19},
    {500, 19, "0x800700b7", "the configuration adds an entry that a higher level already holds, such as the handler twice", "section 12", kError500_19},
    {500, 19, "0x800700c1", "a module's bitness differs from the pool's, or the module is corrupt", "section 5", kError500_19},
    {500, 19, "0x8007010b", "the application's content directory cannot be reached", "section 5", kError500_19},
    {500, 19, "0x8007052e", "the pool's account may not open a web.config on a remote share", "section 10", kError500_19},
    {500, 21, "", "the handler's module is not recognised: modules must be IsapiModule, which the ISAPI Extensions role service installs", "sections 3 and 7", kStatusCodes},
    {503, 0, "", "the application pool is stopped or disabled, for example by Rapid-Fail Protection after worker process crashes", "section 15", kStatusCodes},
    {503, 2, "", "more requests at once than the concurrent request limit appConcurrentRequestLimit", "section 15", kStatusCodes},
    {503, 3, "", "ASP.NET's queue is full: ASP.NET, not the extension's handler, took the request", "section 7", kStatusCodes},
    {503, 4, "", "FastCGI's queue is full: FastCGI, not the extension's handler, took the request", "section 7", kStatusCodes},
    {503, -1, "", "HTTP.sys answered before IIS: the pool's request queue is full, or no worker process could be started, as when Rapid-Fail Protection disabled the pool", "section 15", kPoolFailure},
};

// Every value of a header that may come more than once.
std::string AllValues(const HttpAnswer& answer, std::string_view name)
{
    std::string values;
    for (const auto& [field, value] : answer.headers)
        if (EqualsIgnoringAsciiCase(field, name))
            values += (values.empty() ? "" : ", ") + value;
    return values;
}

bool IsDigit(char c)
{
    return isdigit(static_cast<unsigned char>(c)) != 0;
}

// The number after "<status>." where it stands alone ("HTTP Error 404.3 -",
// "403.503"), not inside a longer number.
int ShownSubStatus(const HttpAnswer& answer)
{
    const std::string& body = answer.body;
    std::string code = std::to_string(answer.status) + ".";
    for (size_t at = body.find(code); at != std::string::npos; at = body.find(code, at + 1)) {
        size_t digits = at + code.size();
        if ((at > 0 && IsDigit(body[at - 1])) || digits >= body.size() || !IsDigit(body[digits]))
            continue;
        return static_cast<int>(strtol(body.c_str() + digits, nullptr, 10));
    }
    return -1;
}

// The first "0x" and eight hexadecimal digits after the label the detailed
// page puts before it ("Error Code", in a table cell of its own).
std::string ShownErrorCode(const HttpAnswer& answer)
{
    constexpr std::string_view kLabel = "Error Code";
    constexpr size_t kReach = 200; // the label's cell and the value's markup
    const std::string& body = answer.body;
    size_t label = body.find(kLabel);
    if (label == std::string::npos)
        return {};
    size_t end = std::min(body.size(), label + kLabel.size() + kReach);
    for (size_t at = body.find("0x", label); at != std::string::npos && at + 10 <= end; at = body.find("0x", at + 1)) {
        std::string code = "0x";
        for (size_t i = at + 2; i < at + 10 && HexDigitValue(body[i]) >= 0; ++i)
            code += AsciiLower(body[i]);
        if (code.size() == 10 && (at + 10 == body.size() || HexDigitValue(body[at + 10]) < 0))
            return code;
    }
    return {};
}

std::string Label(const IisAnswer& row)
{
    if (row.subStatus < 0)
        return std::to_string(row.status) + " from HTTP.sys";
    std::string label = std::to_string(row.status) + "." + std::to_string(row.subStatus);
    if (!row.errorCode.empty())
        label += " with " + std::string(row.errorCode);
    return label;
}

std::string Words(const IisAnswer& row)
{
    return std::string(row.cause) + " (" + std::string(row.section) + ")";
}

std::string Candidates(const std::vector<const IisAnswer*>& rows)
{
    std::string text;
    for (const IisAnswer* row : rows)
        text += (text.empty() ? "" : "; ") + Label(*row) + ": " + Words(*row);
    return text;
}

std::vector<const IisAnswer*> RowsOf(int status)
{
    std::vector<const IisAnswer*> rows;
    for (const IisAnswer& row : kAnswers)
        if (row.status == status)
            rows.push_back(&row);
    return rows;
}

std::vector<const IisAnswer*> RowsOf(int status, int subStatus)
{
    std::vector<const IisAnswer*> rows = RowsOf(status);
    std::erase_if(rows, [subStatus](const IisAnswer* row) { return row->subStatus != subStatus; });
    return rows;
}

// The rows of the status and sub-status the page shows, narrowed by its error code.
std::string CauseShown(const HttpAnswer& answer, const IisPage& page)
{
    std::vector<const IisAnswer*> rows = RowsOf(answer.status, page.subStatus);
    std::string shown = StatusText(answer);
    if (rows.empty())
        return "IIS's " + shown + ", which the doctor's table of IIS's answers does not hold: " + std::string(kStatusCodes);
    std::vector<const IisAnswer*> generic;
    for (const IisAnswer* row : rows) {
        if (!page.errorCode.empty() && row->errorCode == page.errorCode)
            return Words(*row);
        if (row->errorCode.empty())
            generic.push_back(row);
    }
    if (rows.size() == 1)
        return Words(*rows.front());
    if (generic.size() == 1)
        return Words(*generic.front());
    return "IIS's page shows " + shown + (page.errorCode.empty() ? " without an error code" : ", an error code the table does not hold") +
           "; the candidates: " + Candidates(rows);
}

// Every row of the status, when the page names none: IIS's terse pages, which
// other machines get by default, show the status alone.
std::string CauseAmong(int status)
{
    std::vector<const IisAnswer*> rows = RowsOf(status);
    return "the page names no sub-status, as IIS's pages to other machines do (its detailed page on the server "
           "names which); the candidates: " +
           Candidates(rows);
}

// The authentication schemes a header's challenges name ("Negotiate, NTLM"
// holds two; in 'Basic realm="a, b"' the comma is the realm's).
std::vector<std::string> Schemes(std::string_view value)
{
    std::vector<std::string> schemes;
    bool quoted = false;
    bool pieceStart = true;
    for (size_t at = 0; at < value.size(); ++at) {
        char c = value[at];
        if (c == '"')
            quoted = !quoted;
        if (quoted)
            continue;
        if (c == ',') {
            pieceStart = true;
            continue;
        }
        if (!pieceStart || c == ' ')
            continue;
        pieceStart = false;
        size_t end = value.find_first_of(" =,", at);
        if (end == std::string_view::npos || value[end] != '=')
            schemes.emplace_back(value.substr(at, end == std::string_view::npos ? end : end - at));
    }
    return schemes;
}

// Who asked for credentials: the extension's own challenge, IIS's Basic or
// Windows authentication, or no one.
std::string CauseOf401(const HttpAnswer& answer)
{
    std::string challenges = AllValues(answer, "WWW-Authenticate");
    if (challenges.empty())
        return "a 401 with no WWW-Authenticate, so not the extension's, whose 401 always asks for Basic credentials; " +
               CauseAmong(401);
    std::string seen = " (WWW-Authenticate: " + challenges + ")";
    bool windows = false;
    bool basic = false;
    bool other = false;
    for (const auto& [field, value] : answer.headers) {
        if (!EqualsIgnoringAsciiCase(field, "WWW-Authenticate") || value == kBasicChallenge)
            continue;
        for (const std::string& scheme : Schemes(value)) {
            bool isWindows = EqualsIgnoringAsciiCase(scheme, "Negotiate") || EqualsIgnoringAsciiCase(scheme, "NTLM");
            bool isBasic = EqualsIgnoringAsciiCase(scheme, "Basic");
            windows = windows || isWindows;
            basic = basic || isBasic;
            other = other || (!isWindows && !isBasic);
        }
    }
    if (windows)
        return "Windows authentication asks for credentials" + seen + ": it is on; only Anonymous may be (section 9)";
    if (basic)
        return "IIS's Basic authentication asks for credentials" + seen + ": it is on; only Anonymous may be (section 9)";
    if (other)
        return "something in front of the extension asks for credentials" + seen +
               "; in IIS only Anonymous authentication may be on (section 9)";
    return "the extension asked for credentials" + seen;
}

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

std::span<const IisAnswer> IisAnswers()
{
    return kAnswers;
}

IisPage ReadIisPage(const HttpAnswer& answer)
{
    return {ShownSubStatus(answer), ShownErrorCode(answer)};
}

std::string StatusText(const HttpAnswer& answer)
{
    IisPage page = ReadIisPage(answer);
    std::string text = std::to_string(answer.status);
    if (page.subStatus >= 0)
        text += "." + std::to_string(page.subStatus);
    if (!page.errorCode.empty())
        text += " with error code " + page.errorCode;
    return text;
}

std::string CauseOf(const HttpAnswer& answer)
{
    IisPage page = ReadIisPage(answer);
    if (answer.status == 401 && page.subStatus < 0)
        return CauseOf401(answer);
    if (IsRedirect(answer.status)) {
        const std::string* location = answer.Header("Location");
        return "a redirect, which the extension never sends, " +
               (location ? "to " + *location : std::string("without a Location")) +
               ": something in front of the extension sends the caller elsewhere, such as an error page set to "
               "redirect (section 11)";
    }
    if (page.subStatus >= 0)
        return CauseShown(answer, page);
    if (!RowsOf(answer.status).empty())
        return CauseAmong(answer.status);
    if (answer.status >= 200 && answer.status < 300)
        return "something other than the extension answers (section 7)";
    return "an answer that is not the extension's (section 15)";
}
