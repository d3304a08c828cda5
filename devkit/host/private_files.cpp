#include "devkit/host/private_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace {

// A PEM key is a few KiB; anything far larger is not one.
constexpr std::size_t kLargestKey = std::size_t{64} * 1024;

std::string Mode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string UserName(uid_t uid)
{
    const passwd* user = getpwuid(uid);
    std::string number = "uid " + std::to_string(uid);
    return user ? std::string(user->pw_name) + " (" + number + ")" : number;
}

// The owner's part of the message, or nothing when the user owns it.
std::string NotOwn(const struct stat& status)
{
    if (status.st_uid == geteuid())
        return {};
    return "belongs to " + UserName(status.st_uid) + ", not to " + UserName(geteuid()) + " who runs the host";
}

} // namespace

void CheckPrivateDirectory(const std::filesystem::path& directory)
{
    struct stat status {};
    if (stat(directory.c_str(), &status) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot look at " + directory.string());
    const std::string prefix = "refusing the state directory " + directory.string() + ": it ";
    if (std::string owner = NotOwn(status); !owner.empty())
        throw std::runtime_error(prefix + owner + "; give --state-dir a directory of your own");
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        throw std::runtime_error(prefix + "may be written by others (mode " + Mode(status.st_mode) +
                                 "); run chmod go-w " + directory.string());
}

WipedBytes ReadPrivateKey(const std::filesystem::path& path, std::string_view ifNotOwn)
{
    // Without blocking, so that a FIFO planted at the name cannot hold the
    // start; the file checked is the file read, whatever its name comes to
    // name meanwhile.
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open the private key " + path.string());
    struct Closer {
        int descriptor;
        ~Closer() { close(descriptor); }
    } closer{descriptor};

    struct stat status {};
    if (fstat(descriptor, &status) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot look at " + path.string());
    const std::string prefix = "refusing the private key " + path.string() + ": it ";
    if (!S_ISREG(status.st_mode) || static_cast<std::size_t>(status.st_size) > kLargestKey)
        throw std::runtime_error(prefix + "is not a key file");
    if (std::string owner = NotOwn(status); !owner.empty())
        throw std::runtime_error(prefix + owner + "; " + std::string(ifNotOwn));
    if (status.st_mode & (S_IRWXG | S_IRWXO))
        throw std::runtime_error(prefix + "is open to others (mode " + Mode(status.st_mode) + "); run chmod 600 " +
                                 path.string());

    WipedBytes text(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    while (filled < text.size()) {
        ssize_t count = read(descriptor, text.data() + filled, text.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            throw std::runtime_error("cannot read the private key " + path.string());
        filled += static_cast<std::size_t>(count);
    }
    return text;
}
