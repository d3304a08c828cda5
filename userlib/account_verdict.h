// Why the extension accepts or refuses an account: the caller check and the
// auth command each answer with one of these, and tell the client only
// whether it was kAccepted.
#pragma once

enum class AccountVerdict {
    kAccepted,
    kNotAnAddress,  // auth: the user holds no "@"
    kEmptyPassword, // auth
    kNoSuchAccount,
    kDisabled,
    kNoPermission, // caller: web-configuration permission 4
    kFrozen,       // auth
    kWrongPassword,
    kPasswordNotInCodePage, // auth: the password does not survive UTF-8 to the server's code page
};
