#include "devkit/host/state_directory.h"

#include "devkit/host/private_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace {

// A relative XDG_STATE_HOME is to be ignored, as an unset one is.
std::filesystem::path AbsoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    std::filesystem::path path = value ? value : "";
    return path.is_absolute() ? path : std::filesystem::path();
}

} // namespace

std::filesystem::path StateDirectory(const std::filesystem::path& given)
{
    if (!given.empty())
        return given;
    if (std::filesystem::path state = AbsoluteFromEnvironment("XDG_STATE_HOME"); !state.empty())
        return state / "isapi-devhost";
    if (std::filesystem::path home = AbsoluteFromEnvironment("HOME"); !home.empty())
        return home / ".local" / "state" / "isapi-devhost";
    throw std::runtime_error("neither XDG_STATE_HOME nor HOME names a directory for the certificate: "
                             "give --state-dir");
}

void MakeStateDirectory(const std::filesystem::path& directory)
{
    std::filesystem::path made;
    for (const std::filesystem::path& part : directory) {
        made /= part;
        // An existing directory keeps the permissions it has.
        if (mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(), "cannot make " + made.string());
    }
    if (!std::filesystem::is_directory(directory))
        throw std::runtime_error("the state directory " + directory.string() + " is not a directory");
    CheckPrivateDirectory(directory);
}
