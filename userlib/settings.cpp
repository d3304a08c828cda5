#include "userlib/settings.h"

#include "platform/win32.h"
#include "userlib/user_library.h"

#include <cstring>

namespace {

constexpr char kSection[] = "TessalineIntegration";
constexpr char kKey[] = "GroupNames";
constexpr size_t kSettingsPathSize = 272;
// Seven commas stand for "absent": no real setting reads back as them.
constexpr char kAbsentMarker[8] = ",,,,,,,";
constexpr DWORD kGroupNamesSize = 410;

// One byte more than the library is told of, always zero, ends the path even
// when the library fills its whole buffer.
using SettingsPath = char[kSettingsPathSize + 1];

void ReadSettingsFilePath(SettingsPath& path)
{
    memset(path, 0, sizeof path);
    gUserLibrary.VL_GetDBPath(path, kSettingsFileId);
}

} // namespace

void EnsureGroupNamesSetting()
{
    if (!gUserLibrary.VL_GetDBPath)
        return;
    SettingsPath path;
    ReadSettingsFilePath(path);

    char value[sizeof kAbsentMarker] = {};
    GetPrivateProfileStringA(kSection, kKey, kAbsentMarker, value, sizeof value, path);
    if (memcmp(value, kAbsentMarker, sizeof value) == 0)
        WritePrivateProfileStringA(kSection, kKey, "", path);
}

GroupNameList ReadGroupNames()
{
    SettingsPath path;
    ReadSettingsFilePath(path);

    char value[kGroupNamesSize] = {};
    GetPrivateProfileStringA(kSection, kKey, "", value, sizeof value, path);

    GroupNameList names;
    char* position = nullptr;
    for (char* name = NextToken(value, ",", &position); name; name = NextToken(nullptr, ",", &position))
        names.emplace_back(name);
    return names;
}
