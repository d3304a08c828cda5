// The caller check, apart from how a request carries the credentials.
#pragma once

#include "userlib/account_verdict.h"

// Asks the user library about the account in the extension's order, each
// question only when the earlier ones passed. Needs CallerCheckBound.
AccountVerdict CheckCallerAccount(const char* address, const char* password);
