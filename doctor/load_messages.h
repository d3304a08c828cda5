// The doctor's words for each reason the extension would not load; the
// operator's guide quotes them.
#pragma once

constexpr char kNoServerKey[] = "the mail server's registry key is missing";
constexpr char kServerIs32Bit[] =
    "the registry key is only in the 32-bit view: the mail server is 32-bit and cannot serve this 64-bit "
    "extension";
constexpr char kValueMissing[] = "missing from the mail server's registry key";
constexpr char kValueEmpty[] = "empty";
constexpr char kValueTooLong[] = "longer than the 253 characters the extension reads";
constexpr char kLibraryPathTooLong[] = "the user library's path is longer than the 255 characters the extension "
                                       "composes";
constexpr char kLibraryNotThere[] = "the user library is not there";
constexpr char kLibraryUnloadable[] = "the user library cannot be loaded";
constexpr char kNoReloadUsers[] =
    "the user library has no VL_ReloadUsers: it is not the mail server's, and the extension refuses it";
constexpr char kNoGetIsFrozen[] = "the user library has no VL_GetIsFrozen: the extension refuses it";
