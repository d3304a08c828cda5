// Finding the installed mail server through the registry, loading its user
// library and binding the entry points that the extension calls.
#include "userlib/loading.h"

#include "platform/os_calls.h"

#include <cstdio>
#include <type_traits>

BindingTable gUserLibrary;

namespace {

HMODULE gLibrary = nullptr;
bool gLoaded = false;

// An empty value counts as missing; a value longer than the buffer fails.
// Every value is taken as a string, whatever its type, which is only told
// to the observer.
ServerValue ReadServerValue(const char* name, char (&value)[kRegistryValueLimit], DWORD& type)
{
    type = REG_NONE;
    HKEY key = nullptr;
    if (gOs.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ServerValue::kNoKey;
    DWORD size = kRegistryValueLimit;
    LONG result = gOs.RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
    gOs.RegCloseKey(key);
    // The value is kept zero-terminated even when the registry stored it without one.
    value[kRegistryValueLimit - 1] = '\0';
    if (result == ERROR_MORE_DATA)
        return ServerValue::kTooLong;
    if (result != ERROR_SUCCESS)
        return ServerValue::kMissing;
    return value[0] != '\0' ? ServerValue::kRead : ServerValue::kEmpty;
}

bool SafeToRead(LoadObserver* observer, const char* path)
{
    return observer == nullptr || observer->SafeToRead(path);
}

bool ReadLocation(UserLibraryLocation& location, LoadObserver* observer)
{
    DWORD type = REG_NONE;
    ServerValue appPath = ReadServerValue("AppPath", location.applicationDirectory, type);
    if (observer)
        observer->ServerValueRead("AppPath", appPath, location.applicationDirectory, type);
    if (appPath != ServerValue::kRead)
        return false;
    ServerValue iniPath = ReadServerValue("IniPath", location.settingsPath, type);
    if (observer)
        observer->ServerValueRead("IniPath", iniPath, location.settingsPath, type);
    if (iniPath != ServerValue::kRead)
        return false;

    // A missing file or key reads as empty.
    bool read = SafeToRead(observer, location.settingsPath);
    if (read)
        gOs.GetPrivateProfileStringA("Advanced", "UserDllType", "", location.libraryType, kLibraryTypeSize,
                                     location.settingsPath);
    if (observer)
        observer->LibraryTypeRead(location, read);

    int length = snprintf(location.libraryPath, kLibraryPathSize, USER_LIBRARY_PATH_FORMAT,
                          location.applicationDirectory, location.libraryType);
    bool fits = length >= 0 && static_cast<size_t>(length) < kLibraryPathSize;
    if (observer)
        observer->LibraryPathComposed(location, fits);
    return fits;
}

bool LoadAndBind(const char* libraryPath, LoadObserver* observer)
{
    // The library's own DLLs are then found beside it, where the mail server's
    // programs find them, not beside the web server's program.
    gLibrary = gOs.LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (observer)
        observer->LibraryLoaded(libraryPath, gLibrary != nullptr);
    if (!gLibrary)
        return false;
    ForEachEntryPoint(gUserLibrary, [](auto& slot, const char* name, unsigned) {
        // Through void*: the entry point's real type is the slot's, not FARPROC's.
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            reinterpret_cast<void*>(gOs.GetProcAddress(gLibrary, name)));
    });
    if (observer)
        observer->EntryPointsBound(gUserLibrary);

    // A library that cannot reload its users is not the mail server's.
    bool reloads = BoundFor(gUserLibrary, kNeededToLoad);
    if (reloads)
        gUserLibrary.VL_ReloadUsers();
    if (observer)
        observer->UsersReloaded(reloads);
    if (!reloads)
        return false;

    bool passes = BoundFor(gUserLibrary, kNeededForLoadTest);
    if (observer)
        observer->LoadTested(passes);
    return passes;
}

// GroupNames is added empty where the file lacks it; a file that cannot be
// read is left alone. An empty path names no file: it reads as a folder
// does, so it is left alone too.
void KeepGroupNamesSetting(LoadObserver* observer)
{
    if (!gUserLibrary.VL_GetDBPath) {
        if (observer)
            observer->SettingsFound(nullptr, std::nullopt);
        return;
    }
    SettingsPath path;
    ReadServerFilePath(path, kSettingsFileId);
    std::optional<GroupNamesSetting> setting;
    if (SafeToRead(observer, path))
        setting = FindGroupNamesSetting(path);
    if (observer)
        observer->SettingsFound(path, setting);
    else if (setting == GroupNamesSetting::kAbsent)
        AddEmptyGroupNames(path);
}

} // namespace

bool LoadExtension(LoadObserver* observer)
{
    // A host that loads the extension again without unloading it first gets
    // a fresh start, and the library bound before is not held twice.
    ReleaseUserLibrary();
    UserLibraryLocation location;
    if (!ReadLocation(location, observer) || !LoadAndBind(location.libraryPath, observer)) {
        ReleaseUserLibrary();
        return false;
    }
    KeepGroupNamesSetting(observer);
    gLoaded = true;
    return true;
}

void ReleaseUserLibrary()
{
    if (gLibrary) {
        gOs.FreeLibrary(gLibrary);
        gLibrary = nullptr;
    }
    gLoaded = false;
    // A stray call after unloading then meets an empty slot, not unmapped code.
    gUserLibrary = BindingTable{};
}

bool ExtensionLoaded()
{
    return gLoaded;
}
