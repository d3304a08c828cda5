// The per-request handler: one lives on the stack of HttpExtensionProc for
// each request and is the only part of a request that talks to the host,
// through its control block. Each stage it runs is a short adapter over a
// function of request/ or commands/ that works on values.
#pragma once

#include "platform/win32.h"
#include "request/form.h"

#include <span>
#include <string_view>

inline constexpr const char* kJsonContentType = "text/json; charset=UTF-8";
// The challenge of every 401 the extension sends.
inline constexpr const char* kBasicChallenge = "Basic realm=\"TessalineIntegration\"";

class RequestContext {
public:
    explicit RequestContext(EXTENSION_CONTROL_BLOCK* ecb) : ecb_(ecb) {}

    void HandleRequest();
    bool IsHttps();

    void SendResponse(const char* status, const char* contentType, std::string_view body);
    // The body in pieces, sent one after the other, as one answer.
    void SendResponse(const char* status, const char* contentType, std::span<const std::string_view> body);
    void SendErrorPage(const char* status, const char* message);
    // The answer to anything that went wrong inside the extension itself.
    void SendInternalError();
    // The same, sent only when nothing has been sent yet.
    void SendInternalErrorIfUnanswered();

    bool AuthenticateCaller();
    bool ReadForm();
    void RunListCommand();
    void RunAuthCommand();

    const ParameterList& Parameters() const { return parameters_; }
    CommandKind Command() const { return command_; }

private:
    bool ReadBody(char* buffer);

    EXTENSION_CONTROL_BLOCK* ecb_;
    ParameterList parameters_;
    CommandKind command_ = kCommandNone;
    bool answered_ = false;
};
