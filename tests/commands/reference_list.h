// The reference for the list command's differential test: the alias file
// reader and the list body builder exactly as they were before the list path
// was made cheap (owned strings per alias, a byte-at-a-time line reader, a
// stable sort and a binary search per account, per-byte JSON escaping, two
// code-page conversions for every full name). Kept only to tell whether the
// extension's answer is still the same, byte for byte; never built into it.
#pragma once

#include "commands/alias_file.h"
#include "userlib/settings.h"

#include <string>
#include <vector>

struct ReferenceAliasEntry {
    std::string target;
    std::string alias;
};

using ReferenceAliasTable = std::vector<ReferenceAliasEntry>;

ReferenceAliasTable ReferenceReadAliasTable(const char* path, AliasFileReport* report = nullptr);

// The body of a list answer from the bound user library; false when the
// search cannot start.
bool ReferenceListBody(const ReferenceAliasTable& aliases, const GroupNameList& groups, std::string& body);
