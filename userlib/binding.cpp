// Finding the installed mail server through the registry, loading its user
// library and binding the entry points that the extension calls.
#include "platform/os_calls.h"
#include "userlib/user_library.h"

#include <cstdio>
#include <type_traits>

BindingTable gUserLibrary;

namespace {

HMODULE gLibrary = nullptr;

} // namespace

// An empty value counts as missing; a value longer than the buffer fails.
ServerValue ReadServerValue(const char* name, char (&value)[kRegistryValueLimit])
{
    HKEY key = nullptr;
    if (gOs.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ServerValue::kNoKey;
    DWORD size = kRegistryValueLimit;
    LONG result = gOs.RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size);
    gOs.RegCloseKey(key);
    // The value is kept zero-terminated even when the registry stored it without one.
    value[kRegistryValueLimit - 1] = '\0';
    if (result == ERROR_MORE_DATA)
        return ServerValue::kTooLong;
    if (result != ERROR_SUCCESS)
        return ServerValue::kMissing;
    return value[0] != '\0' ? ServerValue::kRead : ServerValue::kEmpty;
}

void ReadLibraryType(UserLibraryLocation& location)
{
    gOs.GetPrivateProfileStringA("Advanced", "UserDllType", "", location.libraryType, kLibraryTypeSize,
                             location.settingsPath);
}

bool ComposeLibraryPath(UserLibraryLocation& location)
{
    int length = snprintf(location.libraryPath, kLibraryPathSize, USER_LIBRARY_PATH_FORMAT,
                          location.applicationDirectory, location.libraryType);
    return length >= 0 && static_cast<size_t>(length) < kLibraryPathSize;
}

bool LoadUserLibrary(const char* libraryPath)
{
    // The library's own DLLs are then found beside it, where the mail server's
    // programs find them, not beside the web server's program.
    gLibrary = gOs.LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return gLibrary != nullptr;
}

void BindEntryPoints()
{
    ForEachEntryPoint(gUserLibrary, [](auto& slot, const char* name) {
        // Through void*: the entry point's real type is the slot's, not FARPROC's.
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            reinterpret_cast<void*>(gOs.GetProcAddress(gLibrary, name)));
    });
}

bool StartUserLibrary()
{
    // A library that cannot reload its users is not the mail server's.
    if (!CanReloadUsers(gUserLibrary)) {
        ReleaseUserLibrary();
        return false;
    }
    gUserLibrary.VL_ReloadUsers();
    return true;
}

bool BindUserLibrary()
{
    // A host that loads the extension again without unloading it first gets
    // a fresh start, and the library bound before is not held twice.
    ReleaseUserLibrary();
    UserLibraryLocation location;
    if (ReadServerValue("AppPath", location.applicationDirectory) != ServerValue::kRead)
        return false;
    if (ReadServerValue("IniPath", location.settingsPath) != ServerValue::kRead)
        return false;
    ReadLibraryType(location);
    if (!ComposeLibraryPath(location))
        return false;
    if (!LoadUserLibrary(location.libraryPath))
        return false;
    BindEntryPoints();
    return StartUserLibrary();
}

void ReleaseUserLibrary()
{
    if (gLibrary) {
        gOs.FreeLibrary(gLibrary);
        gLibrary = nullptr;
    }
    // A stray call after unloading then meets an empty slot, not unmapped code.
    gUserLibrary = BindingTable{};
}
