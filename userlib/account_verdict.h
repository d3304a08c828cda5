// Why the extension accepts or refuses an account: the caller check and the
// auth command each answer with one of these, and tell the client only
// whether it was kAccepted. One list, X(verdict, name, words), gives the
// enum and what the doctor calls each verdict in its JSON and its report.
#pragma once

#define ACCOUNT_VERDICTS(X)                                                                               \
    X(kAccepted, "ok", "accepted")                                                                        \
    X(kNotAnAddress, "not-an-address", "the address holds no \"@\"") /* auth */                           \
    X(kEmptyPassword, "empty-password", "the password is empty")     /* auth */                           \
    X(kNoSuchAccount, "no-such-account", "no such account")                                               \
    X(kDisabled, "disabled", "the account is disabled")                                                   \
    X(kNoPermission, "no-permission-4", "the account lacks web-configuration permission 4") /* caller */  \
    X(kFrozen, "frozen", "the account is frozen")                                           /* auth */    \
    X(kWrongPassword, "wrong-password", "wrong password")                                                 \
    /* auth: the password does not survive UTF-8 to the server's code page */                             \
    X(kPasswordNotInCodePage, "password-not-in-code-page",                                                \
      "the password holds characters that the server's code page cannot hold")

enum class AccountVerdict {
#define VERDICT_ENUMERATOR(verdict, name, words) verdict,
    ACCOUNT_VERDICTS(VERDICT_ENUMERATOR)
#undef VERDICT_ENUMERATOR
};
