#include "platform/linux/regular_file.h"

#include "platform/linux/last_error.h"
#include "platform/os_calls.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace {

// What Windows answers when a profile or a stream is opened on its own kind
// of each object: a folder cannot be opened as a file, a device ("NUL")
// refuses the questions asked about a file, and a pipe the reads.
DWORD ErrorForKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return ERROR_ACCESS_DENIED;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return ERROR_INVALID_PARAMETER;
    return ERROR_INVALID_FUNCTION;
}

// Appends the file's bytes to text; false, with the last error set, when a
// read fails or the file grows past `largest` bytes while it is read.
bool ReadOpenFile(int file, uint64_t largest, std::string& text)
{
    char block[4096];
    for (uint64_t total = 0;;) {
        ssize_t count = gOs.read(file, block, sizeof block);
        if (count == 0)
            return true;
        if (count < 0 && errno != EINTR) {
            SetLastError(ErrorFromErrno(errno));
            return false;
        }
        if (count < 0)
            continue;
        // A file may grow after its size was looked at, or report none at
        // all, as the kernel's own files do.
        total += static_cast<uint64_t>(count);
        if (total > largest) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return false;
        }
        text.append(block, static_cast<size_t>(count));
    }
}

} // namespace

int OpenRegularFile(const char* path, uint64_t largest)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never
    // come. The kind is asked of the descriptor itself, so that nothing can
    // put another object in the path's place between a look and the open.
    // For a regular file O_NONBLOCK changes nothing.
    int file = gOs.PosixOpen(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (file < 0) {
        SetLastError(ErrorFromErrno(errno));
        return -1;
    }
    struct stat status;
    DWORD error = ERROR_SUCCESS;
    if (gOs.fstat(file, &status) != 0)
        error = ErrorFromErrno(errno);
    else if (!S_ISREG(status.st_mode))
        error = ErrorForKind(status.st_mode);
    else if (static_cast<uint64_t>(status.st_size) > largest)
        error = ERROR_FILE_TOO_LARGE;
    if (error == ERROR_SUCCESS)
        return file;
    gOs.close(file);
    SetLastError(error);
    return -1;
}

bool ReadRegularFile(const char* path, uint64_t largest, std::string& text)
{
    text.clear();
    int file = OpenRegularFile(path, largest);
    if (file < 0)
        return false;
    bool read = ReadOpenFile(file, largest, text);
    gOs.close(file);
    if (!read)
        text.clear();
    return read;
}

FILE* OpenSharedForReading(const char* path, uint64_t largest)
{
    int file = OpenRegularFile(path, largest);
    if (file < 0)
        return nullptr;
    FILE* stream = gOs.fdopen(file, "rb");
    if (!stream) {
        SetLastError(ErrorFromErrno(errno));
        gOs.close(file);
    }
    return stream;
}
