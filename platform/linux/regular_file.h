// Files that the platform reads whole: only regular files, opened without
// waiting for anyone, and only up to a size the caller states. A path may
// name a device that never ends (/dev/zero), a FIFO that no one writes to, or
// a folder; each is a file that cannot be read, with the last error that
// Windows gives for its own kind of the same thing.
#pragma once

#include "platform/linux/win32_types.h"

#include <cstdint>
#include <cstdio>
#include <string>

// The registry file and the settings files hold a few kilobytes; one larger
// than this is refused rather than read into memory whole, on every request
// that asks for a value. The doctor names the limit to the operator.
constexpr uint64_t kLargestSettingsFile = uint64_t{4} << 20;

// The descriptor of the regular file at path, opened for reading; -1, with
// the thread's last error set, when it cannot be opened, is not a regular
// file or holds more than `largest` bytes.
int OpenRegularFile(const char* path, uint64_t largest);

// The whole text of the regular file at path; false, with the last error
// set and text empty, when OpenRegularFile refuses it, a read fails or the
// file grows past `largest` bytes while it is read.
bool ReadRegularFile(const char* path, uint64_t largest, std::string& text);

// The regular file at path as a binary stream, as Windows' _fsopen gives it
// without denying other readers or writers; null, with the last error set,
// when OpenRegularFile refuses it.
FILE* OpenSharedForReading(const char* path, uint64_t largest);
