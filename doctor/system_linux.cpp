#include "doctor/system.h"

#include <dlfcn.h>
#include <grp.h>
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

constexpr char kDefaultRegistryFile[] = "/etc/velmora/registry.reg";

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

} // namespace

std::string RegistryDescription()
{
    const char* variable = getenv("VELMORA_REGISTRY_FILE");
    std::string file = variable && *variable ? variable : kDefaultRegistryFile;
    std::string text = "registry file " + file;
    text += variable ? std::string(" (VELMORA_REGISTRY_FILE=") + variable + ")"
                     : " (VELMORA_REGISTRY_FILE not set: the default)";
    struct stat status {};
    if (stat(file.c_str(), &status) != 0)
        text += "; the file does not exist";
    return text;
}

bool ServerKeyOnlyIn32BitView()
{
    return false;
}

LoadFailure ExplainLoadFailure(const char*)
{
    const char* text = dlerror();
    return {text ? text : "", ""};
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
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return {Access::kUnknown, std::string("cannot examine the file: ") + strerror(errno)};
    if (user->pw_uid == 0)
        return {Access::kAllowed, "the superuser"};
    mode_t bits = status.st_mode;
    if (status.st_uid == user->pw_uid)
        bits >>= 6;
    else if (InGroupOf(*user, status.st_gid))
        bits >>= 3;
    mode_t needed = kind == AccessKind::kWrite ? S_IWOTH : kind == AccessKind::kFolder ? S_IROTH | S_IXOTH : S_IROTH;
    bool allowed = (bits & needed) == needed;
    return {allowed ? Access::kAllowed : Access::kDenied, "from the permission bits"};
}

bool InputIsTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

bool ReadPasswordFromTerminal(const std::string& prompt, std::string& password)
{
    fputs(prompt.c_str(), stderr);
    termios saved {};
    tcgetattr(STDIN_FILENO, &saved);
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    bool read = false;
    for (int c = getchar(); c != EOF; c = getchar()) {
        read = true;
        if (c == '\n')
            break;
        password += static_cast<char>(c);
    }
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);
    return read;
}
