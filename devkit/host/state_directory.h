// Where the host keeps what it makes for itself, the self-signed certificate
// and its key: a directory of the user's own, never the current directory.
#pragma once

#include <filesystem>

// --state-dir when given; otherwise $XDG_STATE_HOME/isapi-devhost, or
// ~/.local/state/isapi-devhost. Throws when none of them can be told.
std::filesystem::path StateDirectory(const std::filesystem::path& given);

// Makes the directory, and its missing parents, readable by the user only;
// throws when an existing one is not the user's alone (see private_files.h).
void MakeStateDirectory(const std::filesystem::path& directory);
