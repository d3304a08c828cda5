#include "bench/loaded_extension.h"

#include "platform/win32.h"

#include <cstdlib>
#include <string>

EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version);
EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD flags);

namespace {

// What a host passes when it unloads the extension whatever it answers.
constexpr DWORD kTermMustUnload = 1;

// The registry file of the loaded data set; empty when nothing is loaded.
std::string gLoadedRegistry;

} // namespace

bool LoadExtensionFor(const ServerData& data)
{
    if (gLoadedRegistry == data.registryFile)
        return true;
    UnloadExtension();
    setenv("VELMORA_REGISTRY_FILE", data.registryFile.c_str(), 1);
    HSE_VERSION_INFO version{};
    if (!GetExtensionVersion(&version))
        return false;
    gLoadedRegistry = data.registryFile;
    return true;
}

void UnloadExtension()
{
    if (gLoadedRegistry.empty())
        return;
    TerminateExtension(kTermMustUnload);
    gLoadedRegistry.clear();
}
