// Every caller proves itself with Basic credentials of an enabled account
// that holds web-configuration permission 4.
#include "extension/request_context.h"
#include "platform/ascii.h"
#include "request/base64.h"
#include "request/caller_authentication.h"
#include "userlib/account_guards.h"

#include <cstring>

namespace {

constexpr size_t kSchemeLength = 6; // "Basic "

// Zeroes the credentials however the stage ends.
class WipedOnExit {
public:
    WipedOnExit(void* bytes, size_t size) : bytes_(bytes), size_(size) {}
    ~WipedOnExit() { WipeBytes(bytes_, size_); }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
    void* bytes_;
    size_t size_;
};

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

// Reads the Authorization header into the buffer; true when it holds a
// zero-terminated value that begins with the Basic scheme.
bool RequestContext::ReadBasicCredentials(char (&credentials)[kCredentialsSize])
{
    DWORD size = kCredentialsSize;
    if (!ecb_->GetServerVariable(ecb_->ConnID, const_cast<char*>("HTTP_AUTHORIZATION"), credentials, &size))
        return false;
    credentials[kCredentialsSize - 1] = '\0';
    return StartsWithIgnoringAsciiCase(std::string_view(credentials, strnlen(credentials, kSchemeLength)),
                                       "Basic ");
}

bool RequestContext::AuthenticateCaller()
{
    if (!CallerCheckBound(gUserLibrary)) {
        SendInternalError();
        return false;
    }

    char credentials[kCredentialsSize];
    WipedOnExit wipe(credentials, sizeof credentials);
    memset(credentials, 0, sizeof credentials);

    char* address = nullptr;
    char* password = nullptr;
    if (ReadBasicCredentials(credentials)) {
        address = DecodeBase64(credentials + kSchemeLength);
        if (char* colon = strchr(address, ':')) {
            *colon = '\0';
            password = colon + 1;
        }
    }
    if (!password) {
        SendErrorPage("401 Unauthorized", "Authentication required");
        return false;
    }
    if (CheckCallerAccount(address, password) != AccountVerdict::kAccepted) {
        SendErrorPage("401 Unauthorized", "Invalid username or password");
        return false;
    }
    return true;
}
