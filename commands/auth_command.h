// The auth command's judgement, apart from the request that carries it.
#pragma once

#include "userlib/account_verdict.h"

#include <string>

// What auth decides for this user and pass, in the extension's order of
// questions to the user library. Needs AuthCommandBound.
AccountVerdict CheckAuthAccount(const std::string& address, const std::string& password);
