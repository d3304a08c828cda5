// Finding the installed mail server through the registry, loading its user
// library and binding the entry points that the extension calls.
#include "platform/win32.h"
#include "userlib/user_library.h"

#include <cstdio>

BindingTable gUserLibrary;

namespace {

HMODULE gLibrary = nullptr;

constexpr char kServerKey[] = "Software\\Norvane\\Velmora";
constexpr DWORD kRegistryValueLimit = 254;
constexpr DWORD kLibraryTypeSize = 16;
constexpr size_t kLibraryPathSize = 256;

// Reads one value of the mail server's key; an empty value counts as missing.
bool ReadServerValue(const char* name, char (&value)[kRegistryValueLimit])
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = kRegistryValueLimit;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size);
    RegCloseKey(key);
    // The value is kept zero-terminated even when the registry stored it without one.
    value[kRegistryValueLimit - 1] = '\0';
    return result == ERROR_SUCCESS && value[0] != '\0';
}

template <class Function>
void Bind(Function& slot, const char* name)
{
    // Through void*: the entry point's real type is the slot's, not FARPROC's.
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(gLibrary, name)));
}

void BindEntryPoints()
{
    Bind(gUserLibrary.VL_ReloadUsers, "VL_ReloadUsers");
    Bind(gUserLibrary.VL_GetDBPath, "VL_GetDBPath");
    Bind(gUserLibrary.VL_GetByEmail, "VL_GetByEmail");
    Bind(gUserLibrary.VL_GetIsDisabled, "VL_GetIsDisabled");
    Bind(gUserLibrary.VL_GetIsFrozen, "VL_GetIsFrozen");
    Bind(gUserLibrary.VL_GetWebConfigBit, "VL_GetWebConfigBit");
    Bind(gUserLibrary.VL_ValidateUser, "VL_ValidateUser");
    Bind(gUserLibrary.VL_GetFree, "VL_GetFree");
    Bind(gUserLibrary.VL_FindFirst, "VL_FindFirst");
    Bind(gUserLibrary.VL_FindNext, "VL_FindNext");
    Bind(gUserLibrary.VL_FindClose, "VL_FindClose");
    Bind(gUserLibrary.VL_GetEmail, "VL_GetEmail");
    Bind(gUserLibrary.VL_GetFullName, "VL_GetFullName");
    Bind(gUserLibrary.VL_GroupFindMember, "VL_GroupFindMember");
}

} // namespace

bool BindUserLibrary()
{
    char applicationDirectory[kRegistryValueLimit] = {};
    char settingsPath[kRegistryValueLimit] = {};
    if (!ReadServerValue("AppPath", applicationDirectory))
        return false;
    if (!ReadServerValue("IniPath", settingsPath))
        return false;

    char libraryType[kLibraryTypeSize] = {};
    GetPrivateProfileStringA("Advanced", "UserDllType", "", libraryType, kLibraryTypeSize, settingsPath);

    char libraryPath[kLibraryPathSize];
    int length = snprintf(libraryPath, sizeof libraryPath, USER_LIBRARY_PATH_FORMAT, applicationDirectory,
                          libraryType);
    if (length < 0 || static_cast<size_t>(length) >= sizeof libraryPath)
        return false;

    // The library's own DLLs are then found beside it, where the mail server's
    // programs find them, not beside the web server's program.
    gLibrary = LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!gLibrary)
        return false;

    BindEntryPoints();
    // A library that cannot reload its users is not the mail server's.
    if (!gUserLibrary.VL_ReloadUsers) {
        ReleaseUserLibrary();
        return false;
    }
    gUserLibrary.VL_ReloadUsers();
    return true;
}

void ReleaseUserLibrary()
{
    if (gLibrary) {
        FreeLibrary(gLibrary);
        gLibrary = nullptr;
    }
    // A stray call after unloading then meets an empty slot, not unmapped code.
    gUserLibrary = BindingTable{};
}
