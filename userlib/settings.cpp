#include "userlib/settings.h"

#include "platform/os_calls.h"
#include "userlib/user_library.h"

#include <cstring>

namespace {

// Seven commas stand for "absent": the default that a read gives back when
// the key is missing.
constexpr char kAbsentMarker[8] = ",,,,,,,";

// A read that gave back its default says nothing by itself: the key may be
// missing, or the file may exist and be unreadable. Only the thread's last
// error tells the two apart.
bool SettingsFileUnreadable()
{
    DWORD error = gOs.GetLastError();
    return error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Reads GroupNames with the absent marker as default; false when the marker
// came back because the file could not be read.
bool ReadGroupNamesValue(const char* path, char* value, DWORD size)
{
    gOs.SetLastError(ERROR_SUCCESS);
    gOs.GetPrivateProfileStringA(kSettingsSection, kGroupNamesKey, kAbsentMarker, value, size, path);
    return strcmp(value, kAbsentMarker) != 0 || !SettingsFileUnreadable();
}

} // namespace

GroupNamesSetting FindGroupNamesSetting(const char* settingsPath)
{
    char value[sizeof kAbsentMarker] = {};
    if (!ReadGroupNamesValue(settingsPath, value, sizeof value))
        return GroupNamesSetting::kUnreadable;
    if (strcmp(value, kAbsentMarker) != 0)
        return GroupNamesSetting::kPresent;
    // A stored value may begin with seven commas itself; with an empty
    // default, only a stored value reads back as anything.
    char first[2] = {};
    gOs.SetLastError(ERROR_SUCCESS);
    gOs.GetPrivateProfileStringA(kSettingsSection, kGroupNamesKey, "", first, sizeof first, settingsPath);
    if (first[0] != '\0')
        return GroupNamesSetting::kPresent;
    return SettingsFileUnreadable() ? GroupNamesSetting::kUnreadable : GroupNamesSetting::kAbsent;
}

void AddEmptyGroupNames(const char* settingsPath)
{
    gOs.WritePrivateProfileStringA(kSettingsSection, kGroupNamesKey, "", settingsPath);
}

bool ReadGroupNames(GroupNameList& names)
{
    SettingsPath path;
    ReadServerFilePath(path, kSettingsFileId);

    // The absent marker, like any run of commas, splits into no names.
    char value[kGroupNamesSize] = {};
    if (!ReadGroupNamesValue(path, value, sizeof value))
        return false;

    char* position = nullptr;
    for (char* name = NextToken(value, ",", &position); name; name = NextToken(nullptr, ",", &position))
        names.emplace_back(name);
    return true;
}
