// The extension's one setting: GroupNames in section TessalineIntegration of
// the mail server's settings file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

using GroupNameList = std::vector<std::string>;

// The settings file's path as the user library gives it, and a zero after.
constexpr size_t kSettingsPathSize = 272;
using SettingsPath = char[kSettingsPathSize + 1];

constexpr char kSettingsSection[] = "TessalineIntegration";
constexpr char kGroupNamesKey[] = "GroupNames";
// GroupNames is read into this many bytes, terminator included; a longer
// value is cut there.
constexpr size_t kGroupNamesSize = 410;

enum class GroupNamesSetting {
    kPresent,
    // The file was read and lacks the key, or there is no file.
    kAbsent,
    // The file exists but cannot be read now (held open by the mail server,
    // or barred by its permissions): it tells nothing about the key.
    kUnreadable,
};

// Whether the settings file holds GroupNames, as the extension tells at load.
GroupNamesSetting FindGroupNamesSetting(const char* settingsPath);

// Adds GroupNames, empty, to the settings file: what the extension does at
// load when the file lacks it.
void AddEmptyGroupNames(const char* settingsPath);

// The configured group names in the order written; none means every account.
// False when the settings file exists but cannot be read: the filter is then
// unknown, and nobody may take it for "every account".
bool ReadGroupNames(GroupNameList& names);
