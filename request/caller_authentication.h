// Every caller proves itself with Basic credentials of an enabled account
// that holds web-configuration permission 4.
#pragma once

#include "userlib/account_verdict.h"

#include <cstddef>

// The Authorization header is read into this many bytes, its terminator
// included; what does not fit is cut off.
constexpr size_t kCredentialsSize = 1024;

enum class CallerCheck {
    kNoCredentials, // no header, another scheme, or no colon in what it decodes to
    kRejected,
    kAccepted,
};

// What the Authorization header's value says of the caller: null when the
// request has none. The value is decoded in place, so the caller wipes it.
// Needs the entry points marked kNeededForCallerCheck.
CallerCheck CheckBasicCredentials(char* authorization);

// Asks the user library about the account in the extension's order, each
// question only when the earlier ones passed. Needs the entry points marked
// kNeededForCallerCheck.
AccountVerdict CheckCallerAccount(const char* address, const char* password);
