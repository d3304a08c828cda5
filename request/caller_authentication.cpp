#include "request/caller_authentication.h"

#include "platform/ascii.h"
#include "request/base64.h"
#include "userlib/account_guards.h"

#include <cstring>

namespace {

constexpr size_t kSchemeLength = 6; // "Basic "

AccountVerdict CallerVerdict(UserHandle user, const char* password)
{
    const BindingTable& lib = gUserLibrary;
    if (lib.VL_GetIsDisabled(user))
        return AccountVerdict::kDisabled;
    if (!lib.VL_GetWebConfigBit(user, kWebConfigPermission))
        return AccountVerdict::kNoPermission;
    if (!lib.VL_ValidateUser(user, password))
        return AccountVerdict::kWrongPassword;
    return AccountVerdict::kAccepted;
}

} // namespace

AccountVerdict CheckCallerAccount(const char* address, const char* password)
{
    HeldAccount user(address);
    if (!user.Exists())
        return AccountVerdict::kNoSuchAccount;
    return CallerVerdict(user.Handle(), password);
}

CallerCheck CheckBasicCredentials(char* authorization)
{
    if (!authorization ||
        !StartsWithIgnoringAsciiCase(std::string_view(authorization, strnlen(authorization, kSchemeLength)),
                                     "Basic "))
        return CallerCheck::kNoCredentials;
    char* address = DecodeBase64(authorization + kSchemeLength);
    char* colon = strchr(address, ':');
    if (!colon)
        return CallerCheck::kNoCredentials;
    *colon = '\0';
    const char* password = colon + 1;
    if (CheckCallerAccount(address, password) != AccountVerdict::kAccepted)
        return CallerCheck::kRejected;
    return CallerCheck::kAccepted;
}
