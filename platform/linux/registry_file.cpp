#include "platform/linux/registry_file.h"

RegistryFileLocation LocateRegistryFile(const char* variable)
{
    const std::string name = kRegistryFileVariable;
    if (!variable)
        return {kDefaultRegistryFile,
                std::string("registry file ") + kDefaultRegistryFile + " (" + name + " not set: the default)"};
    if (*variable == '\0')
        return {"", "no registry file (" + name + " is set but empty, which names no file)"};
    return {variable, std::string("registry file ") + variable + " (" + name + "=" + variable + ")"};
}
