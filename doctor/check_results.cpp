#include "doctor/check_results.h"

const char* CheckResultName(AccountVerdict verdict)
{
    switch (verdict) {
    case AccountVerdict::kAccepted: return "ok";
    case AccountVerdict::kNotAnAddress: return "not-an-address";
    case AccountVerdict::kEmptyPassword: return "empty-password";
    case AccountVerdict::kNoSuchAccount: return "no-such-account";
    case AccountVerdict::kDisabled: return "disabled";
    case AccountVerdict::kNoPermission: return "no-permission-4";
    case AccountVerdict::kFrozen: return "frozen";
    case AccountVerdict::kWrongPassword: return "wrong-password";
    case AccountVerdict::kPasswordNotInCodePage: return "password-not-in-code-page";
    }
    return "";
}
