// The values of "caller" and "auth" in the doctor's JSON report: one list,
// which --help and the operator's guide give in full.
#pragma once

#include "userlib/account_verdict.h"

// The check ran: the extension's own verdict, and the same in words.
const char* CheckResultName(AccountVerdict verdict);
const char* CheckResultWords(AccountVerdict verdict);

// The check could not run.
constexpr char kNotLoaded[] = "not-loaded";         // the extension would not load
constexpr char kInternalError[] = "internal-error"; // it would answer 500: an entry point is missing
constexpr char kNoPassword[] = "no-password";       // standard input gave no password for it

constexpr const char* kCheckResults[] = {
#define VERDICT_NAME(verdict, name, words) name,
    ACCOUNT_VERDICTS(VERDICT_NAME)
#undef VERDICT_NAME
    kNotLoaded, kInternalError, kNoPassword,
};
