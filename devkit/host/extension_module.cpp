#include "devkit/host/extension_module.h"

#include "platform/linux/registry_file.h"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>

namespace {

constexpr DWORD kMustUnload = 1; // HSE_TERM_MUST_UNLOAD

template <class Function>
void Find(void* library, const std::string& path, const char* name, Function& slot)
{
    void* symbol = dlsym(library, name);
    if (!symbol)
        throw std::runtime_error(path + " is not an ISAPI extension: it does not export " + name);
    slot = reinterpret_cast<Function>(symbol);
}

} // namespace

ExtensionModule::ExtensionModule(const std::string& path) : path_(path)
{
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_)
        throw std::runtime_error("cannot load the extension: " + std::string(dlerror()));
    try {
        Find(library_, path_, "GetExtensionVersion", getExtensionVersion_);
        Find(library_, path_, "HttpExtensionProc", httpExtensionProc_);
        Find(library_, path_, "TerminateExtension", terminateExtension_);
    } catch (...) {
        dlclose(library_);
        throw;
    }
}

ExtensionModule::~ExtensionModule()
{
    if (started_)
        terminateExtension_(kMustUnload);
    dlclose(library_);
}

std::string ExtensionModule::Start()
{
    HSE_VERSION_INFO version{};
    if (!getExtensionVersion_(&version))
        throw std::runtime_error(path_ + " refused to start: GetExtensionVersion returned FALSE. " +
                                 "The Velmora extension does so when it cannot find or load the mail " +
                                 "server's user library through the registry: " +
                                 LocateRegistryFile(std::getenv(kRegistryFileVariable)).description +
                                 "; its AppPath must hold VLUser.so and IniPath the settings file.");
    started_ = true;
    version.lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN - 1] = '\0';
    return std::string(version.lpszExtensionDesc) + " " + std::to_string(version.dwExtensionVersion >> 16) + "." +
           std::to_string(version.dwExtensionVersion & 0xFFFF);
}
