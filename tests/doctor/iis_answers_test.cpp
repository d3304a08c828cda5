// IIS's pages as the probe reads them, and the words it finds for each: one
// row where the detailed page points to it, every candidate where the page
// shows the bare status, who asked for credentials on a 401, where a
// redirect leads.
#include "doctor/iis_answers.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

HttpAnswer Answer(int status, std::string body, Headers headers = {})
{
    headers.emplace_back("Content-Type", "text/html");
    return {status, std::move(headers), std::move(body)};
}

// The parts of IIS 10's detailed error page that the probe reads.
std::string DetailedPage(const std::string& statusText, const std::string& errorCode)
{
    std::string page = "<html><head><title>IIS 10.0 Detailed Error - " + statusText + "</title></head><body>"
                       "<div class=\"content-container\"><h3>HTTP Error " + statusText + "</h3></div>";
    if (!errorCode.empty())
        page += "<tr><th>Error Code</th><td>&nbsp;&nbsp;&nbsp;" + errorCode + "</td></tr>";
    return page + "</body></html>";
}

std::string Shown(const IisAnswer& row)
{
    return std::to_string(row.status) + "." + std::to_string(row.subStatus);
}

std::string Words(const IisAnswer& row)
{
    return std::string(row.cause) + " (" + std::string(row.section) + ")";
}

TEST(IisAnswersTest, ReadsWhatTheDetailedPageShows)
{
    struct Case {
        HttpAnswer answer;
        int subStatus;
        const char* errorCode;
        const char* statusText;
    } cases[] = {
        {Answer(500, DetailedPage("500.19 - Internal Server Error", "0x80070021")), 19, "0x80070021", "500.19 with error code 0x80070021"},
        {Answer(500, DetailedPage("500.19 - Internal Server Error", "0x8007000D")), 19, "0x8007000d", "500.19 with error code 0x8007000d"},
        {Answer(404, DetailedPage("404.3 - Not Found", "")), 3, "", "404.3"},
        {Answer(403, "Forbidden: 403.503"), 503, "", "403.503"},
        {Answer(404, "404 - File or directory not found."), -1, "", "404"},
        // A number that only ends in the status is no sub-status; a code
        // without the page's label is not read as one.
        {Answer(404, "ticket 1404.2, code 0x80070021"), -1, "", "404"},
        // Nine digits are not an error code.
        {Answer(500, DetailedPage("500.0 - Internal Server Error", "0x800700c1f")), 0, "", "500.0"},
    };
    for (const Case& c : cases) {
        IisPage page = ReadIisPage(c.answer);
        EXPECT_EQ(page.subStatus, c.subStatus) << c.answer.body;
        EXPECT_EQ(page.errorCode, c.errorCode) << c.answer.body;
        EXPECT_EQ(StatusText(c.answer), c.statusText) << c.answer.body;
    }
}

// The table's promise: whatever row a detailed page shows, the probe gives
// that row's words and no other's.
TEST(IisAnswersTest, EveryRowIsReachedByItsDetailedPage)
{
    for (const IisAnswer& row : IisAnswers()) {
        if (row.subStatus < 0)
            continue; // HTTP.sys's page names no sub-status: it is always a candidate
        HttpAnswer answer = Answer(row.status, DetailedPage(Shown(row) + " - Error", std::string(row.errorCode)));
        EXPECT_EQ(CauseOf(answer), Words(row)) << Shown(row) << " " << row.errorCode;
    }
}

TEST(IisAnswersTest, NamesEveryCandidateOfABareStatus)
{
    std::set<int> statuses;
    for (const IisAnswer& row : IisAnswers())
        statuses.insert(row.status);
    for (int status : statuses) {
        if (status == 401)
            continue; // attributed by its challenge, below
        std::string cause = CauseOf(Answer(status, "<h1>Server Error</h1>"));
        EXPECT_NE(cause.find("the page names no sub-status"), std::string::npos) << cause;
        for (const IisAnswer& row : IisAnswers())
            EXPECT_EQ(cause.find(Words(row)) != std::string::npos, row.status == status) << status << ": " << row.cause;
    }
    std::string cause = CauseOf(Answer(503, "<h1>Service Unavailable</h1>"));
    for (const char* candidate : {"503.0: ", "; 503.2: ", "; 503.3: ", "; 503.4: ", "; 503 from HTTP.sys: "})
        EXPECT_NE(cause.find(candidate), std::string::npos) << candidate << "\n" << cause;
}

TEST(IisAnswersTest, NarrowsBySubStatusAndErrorCode)
{
    struct Case {
        HttpAnswer answer;
        std::vector<const char*> expected;
    } cases[] = {
        // An error code that no row of 500.19 names, or none: all nine rows.
        {Answer(500, DetailedPage("500.19 - Internal Server Error", "0x80070001")),
         {"IIS's page shows 500.19 with error code 0x80070001, an error code the table does not hold; the candidates: 500.19 with 0x80070003: ",
          "; 500.19 with 0x80070021: a section locked", "; 500.19 with 0x8007052e: "}},
        {Answer(500, DetailedPage("500.19 - Internal Server Error", "")),
         {"IIS's page shows 500.19 without an error code; the candidates: ", "500.19 with 0x800700b7: "}},
        // 500.0's own row where the code is none of the rows'.
        {Answer(500, DetailedPage("500.0 - Internal Server Error", "0x80070032")),
         {"a module or ISAPI error: the extension did not load, or failed; tessaline-doctor on the server names the step (sections 2 and 15)"}},
        // The one row of 404.2, whatever code the page shows.
        {Answer(404, DetailedPage("404.2 - Not Found", "")), {"ISAPI and CGI Restrictions do not allow the DLL"}},
        {Answer(404, DetailedPage("404.7 - Not Found", "")),
         {"IIS's 404.7, which the doctor's table of IIS's answers does not hold: https://learn.microsoft.com/"}},
        {Answer(200, "<html></html>"), {"something other than the extension answers (section 7)"}},
        {Answer(502, "Bad Gateway"), {"an answer that is not the extension's (section 15)"}},
    };
    for (const Case& c : cases) {
        std::string cause = CauseOf(c.answer);
        for (const char* expected : c.expected)
            EXPECT_NE(cause.find(expected), std::string::npos) << expected << "\n" << cause;
    }
}

TEST(IisAnswersTest, AttributesA401ByItsChallenge)
{
    struct Case {
        Headers challenges;
        const char* cause;
    } cases[] = {
        {{{"WWW-Authenticate", "Basic realm=\"TessalineIntegration\""}},
         "the extension asked for credentials (WWW-Authenticate: Basic realm=\"TessalineIntegration\")"},
        {{{"WWW-Authenticate", "Basic realm=\"mail.example.com\""}},
         "IIS's Basic authentication asks for credentials (WWW-Authenticate: Basic realm=\"mail.example.com\"): it is on; only Anonymous may be (section 9)"},
        {{{"WWW-Authenticate", "Negotiate"}, {"WWW-Authenticate", "NTLM"}},
         "Windows authentication asks for credentials (WWW-Authenticate: Negotiate, NTLM): it is on"},
        {{{"WWW-Authenticate", "NTLM, Negotiate"}}, "Windows authentication asks for credentials"},
        // Windows authentication beside the extension's challenge still answers first.
        {{{"WWW-Authenticate", "Basic realm=\"TessalineIntegration\""}, {"WWW-Authenticate", "Negotiate"}},
         "Windows authentication asks for credentials"},
        // A comma inside a realm is no second challenge.
        {{{"WWW-Authenticate", "Basic realm=\"mail, NTLM\""}}, "IIS's Basic authentication asks for credentials"},
        {{{"WWW-Authenticate", "Bearer realm=\"api\""}},
         "something in front of the extension asks for credentials (WWW-Authenticate: Bearer realm=\"api\")"},
        {{}, "a 401 with no WWW-Authenticate, so not the extension's"},
    };
    for (const Case& c : cases) {
        std::string cause = CauseOf(Answer(401, "<h1>Unauthorized</h1>", c.challenges));
        EXPECT_NE(cause.find(c.cause), std::string::npos) << c.cause << "\n" << cause;
    }
    std::string unchallenged = CauseOf(Answer(401, "Unauthorized"));
    for (const char* candidate : {"401.1: ", "401.2: ", "401.3: "})
        EXPECT_NE(unchallenged.find(candidate), std::string::npos) << unchallenged;
    // The detailed page's sub-status says more than the challenge.
    EXPECT_EQ(CauseOf(Answer(401, DetailedPage("401.2 - Unauthorized", "0x80070005"), {{"WWW-Authenticate", "Negotiate"}})),
              "the server's authentication settings refuse the request: Anonymous authentication must be on (section 9)");
}

TEST(IisAnswersTest, NamesWhereARedirectLeads)
{
    for (int status : {301, 302, 303, 307, 308}) {
        std::string cause = CauseOf(Answer(status, "", {{"Location", "https://login.example.com/"}}));
        EXPECT_EQ(cause.rfind("a redirect, which the extension never sends, to https://login.example.com/: ", 0), 0u) << cause;
    }
    EXPECT_NE(CauseOf(Answer(302, "")).find("a redirect, which the extension never sends, without a Location"),
              std::string::npos);
}

} // namespace
