// Every caller proves itself with Basic credentials of an enabled account
// that holds web-configuration permission 4.
#include "extension/request_context.h"
#include "platform/ascii.h"
#include "request/base64.h"
#include "userlib/user_library.h"

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

// Asks the library about the account, each question only when the earlier
// ones passed, and gives the handle back.
bool AccountAccepts(const char* address, const char* password)
{
    const BindingTable& lib = gUserLibrary;
    UserHandle user = lib.VL_GetByEmail(address);
    if (user == kNoUser)
        return false;
    bool accepted = !lib.VL_GetIsDisabled(user) && lib.VL_GetWebConfigBit(user, kWebConfigPermission) &&
                    lib.VL_ValidateUser(user, password);
    lib.VL_GetFree(user);
    return accepted;
}

} // namespace

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
    const BindingTable& lib = gUserLibrary;
    if (!AllBound(lib.VL_GetByEmail, lib.VL_GetIsDisabled, lib.VL_GetWebConfigBit, lib.VL_ValidateUser,
                  lib.VL_GetFree)) {
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
    if (!AccountAccepts(address, password)) {
        SendErrorPage("401 Unauthorized", "Invalid username or password");
        return false;
    }
    return true;
}
