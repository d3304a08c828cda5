#include "extension/request_context.h"

#include "commands/auth_command.h"
#include "commands/list_command.h"
#include "platform/ascii.h"
#include "platform/wiping.h"
#include "request/caller_authentication.h"
#include "userlib/user_library.h"

#include <cstring>

bool RequestContext::IsHttps()
{
    char value[16] = {};
    DWORD size = sizeof value;
    if (!ecb_->GetServerVariable(ecb_->ConnID, const_cast<char*>("HTTPS"), value, &size))
        return false;
    return EqualsIgnoringAsciiCase(value, "on");
}

void RequestContext::HandleRequest()
{
    if (!IsHttps()) {
        SendErrorPage(kHttpsRequired);
        return;
    }
    if (!EqualsIgnoringAsciiCase(ecb_->lpszMethod ? ecb_->lpszMethod : "", "POST")) {
        SendErrorPage(kPostRequired);
        return;
    }
    if (!AuthenticateCaller())
        return;
    if (!ReadForm())
        return;
    if (command_ == kCommandList)
        RunListCommand();
    else
        RunAuthCommand();
}

// The credentials are zeroed however the stage ends, accepted or not.
bool RequestContext::AuthenticateCaller()
{
    if (!BoundFor(gUserLibrary, kNeededForCallerCheck)) {
        SendInternalError();
        return false;
    }

    char credentials[kCredentialsSize];
    WipedOnExit wipe(credentials, sizeof credentials);
    memset(credentials, 0, sizeof credentials);
    DWORD size = kCredentialsSize;
    bool present = ecb_->GetServerVariable(ecb_->ConnID, const_cast<char*>("HTTP_AUTHORIZATION"), credentials, &size);
    credentials[kCredentialsSize - 1] = '\0';

    switch (CheckBasicCredentials(present ? credentials : nullptr)) {
    case CallerCheck::kNoCredentials:
        SendErrorPage(kAuthenticationRequired);
        return false;
    case CallerCheck::kRejected:
        SendErrorPage(kInvalidCredentials);
        return false;
    case CallerCheck::kAccepted:
        break;
    }
    return true;
}

// Fills the buffer with the whole body: what the host already holds, then
// the rest through ReadClient, asking again until every byte has arrived.
bool RequestContext::ReadBody(char* buffer)
{
    const DWORD total = ecb_->cbTotalBytes;
    DWORD filled = ecb_->cbAvailable < total ? ecb_->cbAvailable : total;
    if (filled > 0)
        memcpy(buffer, ecb_->lpbData, filled);
    while (filled < total) {
        DWORD size = total - filled;
        if (!ecb_->ReadClient(ecb_->ConnID, buffer + filled, &size) || size == 0)
            return false;
        filled += size < total - filled ? size : total - filled;
    }
    return true;
}

// The body lives in a buffer of its own, wiped once cut up: an auth body
// carries a password.
bool RequestContext::ReadForm()
{
    const DWORD total = ecb_->cbTotalBytes;
    if (!IsFormRequest(ecb_->lpszContentType, total)) {
        SendErrorPage(kInvalidInput);
        return false;
    }

    WipedBuffer<char> body(total + 1);
    if (!ReadBody(body.get())) {
        SendErrorPage(kPostedDataUnreadable);
        return false;
    }
    body.get()[total] = '\0';
    ParseForm(body.get(), parameters_);

    command_ = SelectCommand(parameters_);
    if (command_ == kCommandNone) {
        SendErrorPage(kInvalidCommand);
        return false;
    }
    return true;
}

void RequestContext::RunListCommand()
{
    BodyPieces body;
    if (!BuildListAnswer(body)) {
        SendInternalError();
        return;
    }
    SendResponse("200 OK", kJsonContentType, body.Pieces());
}

void RequestContext::RunAuthCommand()
{
    std::string_view body;
    if (!BuildAuthAnswer(parameters_, body)) {
        SendInternalError();
        return;
    }
    SendResponse("200 OK", kJsonContentType, body);
}
