// The state directory and the private key are trusted as ssh trusts a key:
// only when they are the user's own and no one else may change them, nor
// read the key. A key someone else could read is no longer secret; a key
// or directory someone else could write may have been put there to have
// the host serve a certificate whose key they hold.
#pragma once

#include "devkit/host/wiping_allocator.h"

#include <filesystem>
#include <string>
#include <string_view>

// Throws, naming the directory and the fix, unless it belongs to the user
// the host runs as and neither its group nor others may write to it.
void CheckPrivateDirectory(const std::filesystem::path& directory);

// The key file's text, from a regular file that belongs to the user the host
// runs as and that its group and others may neither read nor write; throws
// otherwise, naming the file and the fix. ifNotOwn is the fix to name for a
// key that belongs to someone else.
WipedBytes ReadPrivateKey(const std::filesystem::path& path, std::string_view ifNotOwn);
