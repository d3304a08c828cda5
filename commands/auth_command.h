// The auth command: do this address and password belong to a usable account?
// It answers yes or no, never why.
#pragma once

#include "request/form.h"
#include "userlib/account_verdict.h"

#include <string>
#include <string_view>

// The JSON body that answers auth for the form's user and pass; false when
// the user library lacks what auth asks of it.
bool BuildAuthAnswer(const ParameterList& parameters, std::string_view& body);

// What auth decides for this user and pass, in the extension's order of
// questions to the user library. Needs the entry points marked
// kNeededForAuth.
AccountVerdict CheckAuthAccount(const std::string& address, const std::string& password);
