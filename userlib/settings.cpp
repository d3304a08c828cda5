#include "userlib/settings.h"

#include "platform/win32.h"
#include "userlib/user_library.h"

#include <cstring>

namespace {

// Seven commas stand for "absent": no real setting reads back as them.
constexpr char kAbsentMarker[8] = ",,,,,,,";

} // namespace

void ReadSettingsFilePath(SettingsPath& path)
{
    memset(path, 0, sizeof path);
    gUserLibrary.VL_GetDBPath(path, kSettingsFileId);
}

bool GroupNamesPresent(const char* settingsPath)
{
    char value[sizeof kAbsentMarker] = {};
    GetPrivateProfileStringA(kSettingsSection, kGroupNamesKey, kAbsentMarker, value, sizeof value, settingsPath);
    return memcmp(value, kAbsentMarker, sizeof value) != 0;
}

void EnsureGroupNamesSetting()
{
    if (!gUserLibrary.VL_GetDBPath)
        return;
    SettingsPath path;
    ReadSettingsFilePath(path);
    if (!GroupNamesPresent(path))
        WritePrivateProfileStringA(kSettingsSection, kGroupNamesKey, "", path);
}

GroupNameList ReadGroupNames()
{
    SettingsPath path;
    ReadSettingsFilePath(path);

    char value[kGroupNamesSize] = {};
    GetPrivateProfileStringA(kSettingsSection, kGroupNamesKey, "", value, sizeof value, path);

    GroupNameList names;
    char* position = nullptr;
    for (char* name = NextToken(value, ",", &position); name; name = NextToken(nullptr, ",", &position))
        names.emplace_back(name);
    return names;
}
