// The extension's one setting: GroupNames in section TessalineIntegration of
// the mail server's settings file.
#pragma once

#include <string>
#include <vector>

using GroupNameList = std::vector<std::string>;

// Writes an empty GroupNames when the key is absent.
void EnsureGroupNamesSetting();

// The configured group names in the order written; empty means every account.
GroupNameList ReadGroupNames();
