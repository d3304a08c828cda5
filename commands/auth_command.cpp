#include "commands/auth_command.h"

#include "extension/fixed_answers.h"
#include "platform/ascii.h"
#include "platform/os_calls.h"
#include "platform/wiping.h"
#include "userlib/account_guards.h"

#include <cstring>

namespace {

// Asks the library once the account is known to be enabled and unfrozen; a
// password that does not survive both conversions exactly is never offered.
AccountVerdict PasswordVerdict(UserHandle user, const std::string& password)
{
    WipedBuffer<WCHAR> wide(password.size() + 1);
    int units = gOs.MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, password.c_str(), -1, wide.get(),
                                    static_cast<int>(wide.count()));
    if (units == 0)
        return AccountVerdict::kPasswordNotInCodePage;

    WipedBuffer<char> ansi(static_cast<size_t>(units) * 2);
    BOOL usedDefault = FALSE;
    int bytes = gOs.WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.get(), -1, ansi.get(),
                                    static_cast<int>(ansi.count()), nullptr, &usedDefault);
    if (bytes == 0 || usedDefault)
        return AccountVerdict::kPasswordNotInCodePage;
    if (!gUserLibrary.VL_ValidateUser(user, ansi.get()))
        return AccountVerdict::kWrongPassword;
    return AccountVerdict::kAccepted;
}

AccountVerdict AccountVerdictOf(UserHandle user, const std::string& password)
{
    const BindingTable& lib = gUserLibrary;
    if (lib.VL_GetIsDisabled(user))
        return AccountVerdict::kDisabled;
    if (lib.VL_GetIsFrozen(user))
        return AccountVerdict::kFrozen;
    return PasswordVerdict(user, password);
}

} // namespace

AccountVerdict CheckAuthAccount(const std::string& address, const std::string& password)
{
    if (address.find('@') == std::string::npos)
        return AccountVerdict::kNotAnAddress;
    if (password.empty())
        return AccountVerdict::kEmptyPassword;
    HeldAccount user(address.c_str());
    if (!user.Exists())
        return AccountVerdict::kNoSuchAccount;
    return AccountVerdictOf(user.Handle(), password);
}

bool BuildAuthAnswer(const ParameterList& parameters, std::string_view& body)
{
    if (!BoundFor(gUserLibrary, kNeededForAuth))
        return false;

    const std::string* address = nullptr;
    const std::string* password = nullptr;
    for (const FormParameter& parameter : parameters) {
        if (EqualsIgnoringAsciiCase(parameter.name, "user"))
            address = &parameter.value;
        else if (EqualsIgnoringAsciiCase(parameter.name, "pass"))
            password = &parameter.value;
    }

    bool succeeded =
        address && password && CheckAuthAccount(*address, *password) == AccountVerdict::kAccepted;
    body = succeeded ? kAuthSucceeded : kAuthFailed;
    return true;
}
