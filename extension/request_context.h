// The per-request handler: one lives on the stack of HttpExtensionProc for
// each request and reaches the host only through its control block.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One decoded name/value pair of the posted form. The strings are wiped
// before they are freed: the form of an auth request carries a password.
struct FormParameter {
    std::string name;
    std::string value;

    FormParameter(std::string_view n, std::string_view v) : name(n), value(v) {}
    FormParameter(FormParameter&&) = default;
    FormParameter& operator=(FormParameter&&) = default;
    ~FormParameter();
};

using ParameterList = std::vector<FormParameter>;

enum CommandKind : int32_t {
    kCommandNone = 0,
    kCommandList = 1,
    kCommandAuth = 2,
};

inline constexpr const char* kJsonContentType = "text/json; charset=UTF-8";

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

    static constexpr DWORD kCredentialsSize = 1024;

private:
    bool ReadBasicCredentials(char (&credentials)[kCredentialsSize]);
    bool ReadBody(char* buffer);
    bool ReadParameters(DWORD total);

    EXTENSION_CONTROL_BLOCK* ecb_;
    ParameterList parameters_;
    CommandKind command_ = kCommandNone;
    bool answered_ = false;
};
