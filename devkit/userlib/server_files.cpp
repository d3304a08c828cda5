#include "devkit/userlib/server_files.h"

#include "platform/win32.h"

namespace {

constexpr char kServerKey[] = "Software\\Norvane\\Velmora";

bool ReadMainSettingsPath(char (&path)[kServerPathSize])
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof path;
    LONG result = RegQueryValueExA(key, "IniPath", nullptr, nullptr, reinterpret_cast<LPBYTE>(path), &size);
    RegCloseKey(key);
    path[kServerPathSize - 1] = '\0';
    return result == ERROR_SUCCESS;
}

} // namespace

void ReadServerFilePath(const char* key, char* path)
{
    path[0] = '\0';
    char mainSettings[kServerPathSize] = {};
    if (ReadMainSettingsPath(mainSettings) && mainSettings[0] != '\0')
        GetPrivateProfileStringA("Directories", key, "", path, kServerPathSize, mainSettings);
}
