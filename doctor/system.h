// What the doctor asks the operating system beyond the extension's own
// steps; one implementation per system (system_windows.cpp, system_linux.cpp).
#pragma once

#include "doctor/password.h"

#include <cstdint>
#include <optional>
#include <string>

// Where the mail server's key is read from, for the report.
std::string RegistryDescription();
// The file the registry is read from: empty when none is named (Linux),
// nothing where the registry is no file (Windows).
std::optional<std::string> RegistryFilePath();
// Where the key was found when it is missing from the registry the extension
// reads but present in the 32-bit view, where a 32-bit mail server keeps it;
// empty otherwise.
std::string ServerKeyIn32BitView();

struct LoadFailure {
    std::string osText;
    // A finding more precise than the system's text, or empty.
    std::string cause;
};
// Called right after the user library failed to load, before anything else
// replaces the system's error.
LoadFailure ExplainLoadFailure(const char* libraryPath);

// What a path names, found without opening it: a device or a pipe may block
// a reader, or never end. kTooLarge is a file over the limit of the reader
// that reads it.
enum class FileKind { kMissing, kFile, kFolder, kDevice, kPipe, kSocket, kOther, kUnknown, kTooLarge };
struct FileFound {
    FileKind kind;
    // The system's words when the kind cannot be told.
    std::string reason;
};
FileFound Examine(const std::string& path);
// Examine for the registry file or a settings file. On Linux the extension's
// own readers take at most SettingsFileLimit() bytes of them, and a larger
// file is kTooLarge. On Windows the system's own readers read them, with no
// limit the doctor knows of: SettingsFileLimit() is 0 there.
FileFound ExamineSettingsFile(const std::string& path);
uint64_t SettingsFileLimit();
// Whether the extension's file readers take a path of this kind for a file
// that cannot be read: on Linux, every kind but a file; on Windows, a folder,
// which does not open as a file.
bool RefusesToRead(FileKind kind);
// The system's reason why this process cannot open the file for reading, or
// empty when it can. Only for a path that Examine found to be a file, or missing.
std::string WhyUnreadable(const std::string& path);

std::string CurrentAccount();
// Whether this process may open the file for reading or for writing; nothing
// is written.
bool MayRead(const std::string& path);
bool MayWrite(const std::string& path);

// kRead: read the file; kFolder: read the folder and the files in it;
// kSettingsWrite: what the extension's settings writer needs to change the
// file, which depends on how the system's writer replaces it.
enum class AccessKind { kRead, kFolder, kSettingsWrite };
enum class Access { kAllowed, kDenied, kUnknown };
struct AccessAnswer {
    Access access;
    std::string note;
};
// From the permissions along the path: may the named account do this?
AccessAnswer AccountMay(const std::string& account, const std::string& path, AccessKind kind);

// True when standard input is a terminal, where the password is typed.
bool InputIsTerminal();
// Asks on the terminal and reads one line without echo, as UTF-8, as
// ReadInputLine does (password.h).
PasswordRead ReadPasswordFromTerminal(const std::string& prompt, std::string& password);
// One byte of standard input, read from the system without stdio's buffer.
// False at the end of input or on an error.
bool ReadInputByte(char& byte);
