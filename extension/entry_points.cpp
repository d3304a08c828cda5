// The ISAPI entry points. Nothing thrown inside the extension crosses them.
#include "extension/request_context.h"
#include "userlib/loading.h"

#include <cstring>

namespace {

constexpr DWORD kExtensionVersion = 0x70005; // 7.5
constexpr char kExtensionDescription[] = "Velmora Tessaline Integration DLL";

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

EXTENSION_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version)
{
    version->dwExtensionVersion = kExtensionVersion;
    strncpy(version->lpszExtensionDesc, kExtensionDescription, HSE_MAX_EXT_DLL_NAME_LEN - 1);
    version->lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN - 1] = '\0';

    try {
        return LoadExtension(nullptr) ? TRUE : FALSE;
    } catch (...) {
        ReleaseUserLibrary();
        return FALSE;
    }
}

EXTENSION_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb)
{
    RequestContext context(ecb);
    try {
        context.HandleRequest();
    } catch (...) {
        try {
            context.SendInternalErrorIfUnanswered();
        } catch (...) {
            // Not even the error page could be built; the host ends the request.
        }
    }
    return HSE_STATUS_SUCCESS;
}

EXTENSION_EXPORT BOOL WINAPI TerminateExtension(DWORD)
{
    ReleaseUserLibrary();
    return TRUE;
}
