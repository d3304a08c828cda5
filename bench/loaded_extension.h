// The extension as the host loads it: GetExtensionVersion binds the stand-in
// user library through the registry file of one data set, and
// TerminateExtension lets it go. One data set is loaded at a time.
#pragma once

#include "bench/server_data.h"

// Loads the extension against the data set, unless it is already; false
// when GetExtensionVersion refused.
bool LoadExtensionFor(const ServerData& data);

// Unloads whatever is loaded.
void UnloadExtension();
