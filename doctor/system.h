// What the doctor asks the operating system beyond the extension's own
// steps; one implementation per system (system_windows.cpp, system_linux.cpp).
#pragma once

#include <string>

// Where the mail server's key is read from, for the report.
std::string RegistryDescription();
// True when the key is missing from the registry the extension reads but
// present in the 32-bit view, where a 32-bit mail server keeps it.
bool ServerKeyOnlyIn32BitView();

struct LoadFailure {
    std::string osText;
    // A finding more precise than the system's text, or empty.
    std::string cause;
};
// Called right after the user library failed to load, before anything else
// replaces the system's error.
LoadFailure ExplainLoadFailure(const char* libraryPath);

std::string CurrentAccount();
// Whether this process may open the file for reading or for writing; nothing
// is written.
bool MayRead(const std::string& path);
bool MayWrite(const std::string& path);

enum class AccessKind { kRead, kWrite, kFolder };
enum class Access { kAllowed, kDenied, kUnknown };
struct AccessAnswer {
    Access access;
    std::string note;
};
// From the file's access list: may the named account do this?
AccessAnswer AccountMay(const std::string& account, const std::string& path, AccessKind kind);

// True when standard input is a terminal, where the password is typed.
bool InputIsTerminal();
// Reads one line from the terminal without echo, as UTF-8.
bool ReadPasswordFromTerminal(const std::string& prompt, std::string& password);
