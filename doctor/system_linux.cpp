#include "doctor/system.h"

#include "platform/linux/registry_file.h"
#include "platform/linux/regular_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

RegistryFileLocation RegistryFile()
{
    return LocateRegistryFile(getenv(kRegistryFileVariable));
}

bool InGroupOf(const passwd& user, gid_t group)
{
    int count = 64;
    std::vector<gid_t> groups(count);
    if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count);
    }
    for (int i = 0; i < count; ++i)
        if (groups[i] == group)
            return true;
    return false;
}

// The permission bits that apply to this account: the owner's, the group's
// or everyone else's, as read (4), write (2) and search or execute (1).
mode_t BitsFor(const passwd& user, const struct stat& status)
{
    if (status.st_uid == user.pw_uid)
        return (status.st_mode >> 6) & 7;
    if (InGroupOf(user, status.st_gid))
        return (status.st_mode >> 3) & 7;
    return status.st_mode & 7;
}

std::string NameOfUser(uid_t uid)
{
    const passwd* user = getpwuid(uid);
    return user ? user->pw_name : std::to_string(uid);
}

std::string NameOfGroup(gid_t gid)
{
    const group* found = getgrgid(gid);
    return found ? found->gr_name : std::to_string(gid);
}

std::string Describe(const std::string& path, const struct stat& status)
{
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return path + " (mode " + mode + ", owner " + NameOfUser(status.st_uid) + ", group " +
           NameOfGroup(status.st_gid) + ")";
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char here[PATH_MAX];
    return getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

std::string ParentOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The path with every link resolved; a missing last part stays as written.
std::string Resolved(const std::string& path)
{
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved))
        return resolved;
    std::string parent = ParentOf(path);
    if (!realpath(parent.c_str(), resolved))
        return path;
    return std::string(resolved) + (std::string(resolved) == "/" ? "" : "/") + path.substr(path.find_last_of('/') + 1);
}

// Every folder above the path, from the root down.
std::vector<std::string> FoldersAbove(const std::string& path)
{
    std::vector<std::string> folders{"/"};
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (slash > 0 && path[slash - 1] != '/')
            folders.push_back(path.substr(0, slash));
    return folders;
}

// One account's rights along the path, checked in the order the system
// checks them: the first one missing is the answer.
class PathCheck {
public:
    explicit PathCheck(const passwd& user) : user_(user) {}

    // Search on every folder above the path as written and as resolved:
    // the system walks the one, then the other where a link leads.
    bool SearchAbove(const std::string& path)
    {
        std::string written = Absolute(path);
        for (const std::string& start : {written, Resolved(written)})
            for (const std::string& folder : FoldersAbove(start))
                if (!Has(folder, 1, "search (x)"))
                    return false;
        return true;
    }

    // bits: 4 read, 2 write, 1 search or execute; why, when given, says
    // what needs them.
    bool Has(const std::string& path, mode_t bits, const char* what, const char* why = "")
    {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) {
            answer_ = {Access::kUnknown, "cannot examine " + path + ": " + strerror(errno)};
            return false;
        }
        if ((BitsFor(user_, status) & bits) == bits)
            return true;
        answer_ = {Access::kDenied, std::string("no ") + what + " permission on " + Describe(path, status) + why};
        return false;
    }

    // A folder that only owners may rename in (the sticky bit) lets the
    // account replace the file only when it owns the file or the folder.
    bool MayReplaceIn(const std::string& folder, const std::string& file)
    {
        struct stat folderStatus {}, fileStatus {};
        if (stat(folder.c_str(), &folderStatus) != 0 || !(folderStatus.st_mode & S_ISVTX) ||
            stat(file.c_str(), &fileStatus) != 0)
            return true;
        if (folderStatus.st_uid == user_.pw_uid || fileStatus.st_uid == user_.pw_uid)
            return true;
        answer_ = {Access::kDenied, "the folder " + Describe(folder, folderStatus) +
                                        " lets only a file's owner replace it, and the account owns neither it nor " +
                                        Describe(file, fileStatus)};
        return false;
    }

    AccessAnswer Answer() const { return answer_; }

private:
    const passwd& user_;
    AccessAnswer answer_{Access::kUnknown, ""};
};

} // namespace

std::string RegistryDescription()
{
    RegistryFileLocation registry = RegistryFile();
    if (!registry.path.empty() && Examine(registry.path).kind == FileKind::kMissing)
        return registry.description + "; the file does not exist";
    return registry.description;
}

std::optional<std::string> RegistryFilePath()
{
    return RegistryFile().path;
}

std::string ServerKeyIn32BitView()
{
    return "";
}

LoadFailure ExplainLoadFailure(const char*)
{
    const char* text = dlerror();
    return {text ? text : "", ""};
}

FileFound Examine(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileFound{FileKind::kMissing, ""}
                                                   : FileFound{FileKind::kUnknown, strerror(errno)};
    if (S_ISREG(status.st_mode))
        return {FileKind::kFile, ""};
    if (S_ISDIR(status.st_mode))
        return {FileKind::kFolder, ""};
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return {FileKind::kDevice, ""};
    if (S_ISFIFO(status.st_mode))
        return {FileKind::kPipe, ""};
    if (S_ISSOCK(status.st_mode))
        return {FileKind::kSocket, ""};
    return {FileKind::kOther, ""};
}

FileFound ExamineSettingsFile(const std::string& path)
{
    FileFound found = Examine(path);
    struct stat status {};
    if (found.kind == FileKind::kFile && stat(path.c_str(), &status) == 0 &&
        static_cast<uint64_t>(status.st_size) > kLargestSettingsFile)
        found.kind = FileKind::kTooLarge;
    return found;
}

uint64_t SettingsFileLimit()
{
    return kLargestSettingsFile;
}

bool RefusesToRead(FileKind kind)
{
    return kind != FileKind::kFile && kind != FileKind::kMissing;
}

std::string WhyUnreadable(const std::string& path)
{
    // Without blocking, should the path have become a pipe since it was examined.
    int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
        return strerror(errno);
    close(file);
    return "";
}

std::string CurrentAccount()
{
    const passwd* user = getpwuid(geteuid());
    return user ? user->pw_name : "uid " + std::to_string(geteuid());
}

bool MayRead(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

bool MayWrite(const std::string& path)
{
    return access(path.c_str(), W_OK) == 0;
}

AccessAnswer AccountMay(const std::string& account, const std::string& path, AccessKind kind)
{
    const passwd* user = getpwnam(account.c_str());
    if (!user)
        return {Access::kUnknown, "no such account"};
    if (user->pw_uid == 0)
        return {Access::kAllowed, "the superuser"};
    PathCheck check(*user);
    if (!check.SearchAbove(path))
        return check.Answer();
    switch (kind) {
    case AccessKind::kRead:
        if (!check.Has(path, 4, "read"))
            return check.Answer();
        return {Access::kAllowed, "search on every folder above it and read on the file, from the permission bits"};
    case AccessKind::kFolder:
        if (!check.Has(path, 4 | 1, "read and search (rx)"))
            return check.Answer();
        return {Access::kAllowed, "search on every folder above it, read and search on the folder, from the "
                                  "permission bits"};
    case AccessKind::kSettingsWrite: {
        // The settings writer reads the file, writes its new text to a
        // temporary file beside the file the path leads to, and renames that
        // over it: the file itself need not be writable, its folder must be.
        std::string file = Resolved(Absolute(path)), folder = ParentOf(file);
        bool exists = Examine(file).kind != FileKind::kMissing;
        if ((exists && !check.Has(file, 4, "read")) ||
            !check.Has(folder, 2 | 1, "write and search (wx)",
                       ", where the settings writer creates a temporary file and renames it over the file") ||
            !check.MayReplaceIn(folder, file))
            return check.Answer();
        return {Access::kAllowed, std::string("search on every folder above it, ") + (exists ? "read on the file, " : "") +
                                      "write on its folder " + folder +
                                      ", where the settings writer creates a temporary file and renames it over the "
                                      "file, from the permission bits"};
    }
    }
    return {Access::kUnknown, ""};
}

bool InputIsTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

PasswordRead ReadPasswordFromTerminal(const std::string& prompt, std::string& password)
{
    fputs(prompt.c_str(), stderr);
    termios saved {};
    tcgetattr(STDIN_FILENO, &saved);
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    PasswordRead read = ReadInputLine(password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);
    return read;
}

bool ReadInputByte(char& byte)
{
    for (;;) {
        ssize_t count = read(STDIN_FILENO, &byte, 1);
        if (count == 1)
            return true;
        if (count == 0 || errno != EINTR)
            return false;
    }
}
