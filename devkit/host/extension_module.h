// The ISAPI extension, loaded as IIS loads it: once, started once, and
// terminated when the host unloads it.
#pragma once

#include "platform/linux/isapi.h"

#include <string>

class ExtensionModule {
public:
    // Loads the library and finds its three entry points; throws when it cannot.
    explicit ExtensionModule(const std::string& path);
    // Terminates a started extension, then unloads it.
    ~ExtensionModule();
    ExtensionModule(const ExtensionModule&) = delete;
    ExtensionModule& operator=(const ExtensionModule&) = delete;

    // Calls GetExtensionVersion; throws when the extension refuses to start.
    // Returns the extension's description of itself.
    std::string Start();
    DWORD HandleRequest(EXTENSION_CONTROL_BLOCK* ecb) const { return httpExtensionProc_(ecb); }

private:
    std::string path_;
    void* library_ = nullptr;
    BOOL (*getExtensionVersion_)(HSE_VERSION_INFO*) = nullptr;
    DWORD (*httpExtensionProc_)(EXTENSION_CONTROL_BLOCK*) = nullptr;
    BOOL (*terminateExtension_)(DWORD) = nullptr;
    bool started_ = false;
};
