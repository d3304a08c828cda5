// One request between host and extension: the control block the extension
// sees and the callbacks through which it reads the request and answers.
//
// An Exchange lives on one worker thread, for the time of one
// HttpExtensionProc call, and the extension calls back on that thread; debug
// builds check both. It never touches the connection: what the
// extension sends is collected, and the network thread writes it once the
// worker is back in the pool, so that a client that does not read holds up
// no one but itself.
#pragma once

#include "devkit/host/answer_budget.h"
#include "devkit/host/extension_module.h"
#include "devkit/host/http_request.h"
#include "devkit/host/owning_thread.h"

#include <cstddef>
#include <string>
#include <string_view>

struct ExchangeOutcome {
    // Whether the extension sent anything at all.
    bool answered = false;
    // Whether its answer would have passed the host's budget for the answers
    // it holds: the writes that would have were refused, and what came
    // before them is let go.
    bool overBudget = false;
    bool keepConnection = false;
    unsigned status = 0;
    // Status line, header block and body, as they go to the client.
    HeldAnswer answer;
};

class Exchange {
public:
    // The root stands for the site's directory in lpszPathTranslated; the
    // answer is counted against the budget.
    Exchange(const HttpRequest& request, std::size_t readAhead, const std::string& root, AnswerBudget& budget);
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Runs HttpExtensionProc on the calling thread and hands over its answer.
    ExchangeOutcome Run(const ExtensionModule& extension);

private:
    // The exchange behind a connection handle the extension passes back.
    static Exchange& Of(HCONN connection);
    static BOOL GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size);
    static BOOL WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD flags);
    static BOOL ReadClient(HCONN connection, LPVOID buffer, LPDWORD size);
    static BOOL ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                      LPDWORD dataType);

    // False once the answer has passed the budget.
    bool Send(std::string_view bytes);
    bool SendHeader(const HSE_SEND_HEADER_EX_INFO& info);

    const HttpRequest& request_;
    // Writable copies: the control block hands out LPSTR, not const strings.
    std::string method_;
    std::string query_;
    std::string path_;
    std::string pathTranslated_;
    std::string contentType_;
    std::size_t available_;
    std::size_t delivered_;
    ExchangeOutcome outcome_;
    OwningThread owner_;
};
