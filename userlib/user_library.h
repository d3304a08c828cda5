// What the extension calls in the mail server's user library, and the
// process-wide table of bound entry points. The table is written only while
// the host loads and unloads the extension, and only read in between.
#pragma once

#include "userlib/entry_point_list.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using UserHandle = int64_t;
constexpr UserHandle kNoUser = -1;
constexpr int64_t kNoSearch = -1;

// The user library's names for two of the mail server's files.
enum ServerFileId : int32_t {
    kAliasFileId = 12,
    kSettingsFileId = 200,
};

constexpr int32_t kWebConfigPermission = 4;
constexpr int kEmailBufferSize = 77;
constexpr int kFullNameBufferSize = 31;

// One slot per entry point, empty until bound.
// NOLINTNEXTLINE(bugprone-macro-parentheses): the arguments are a type, a name and a parameter list
#define VL_SLOT(result, name, parameters, neededFor) result(*name) parameters;
struct BindingTable {
    VL_ENTRY_POINTS(VL_SLOT)
};
#undef VL_SLOT

extern BindingTable gUserLibrary;

// A server file's path as the user library gives it. The buffer holds one
// byte more than the path may take; it stays zero, so the path ends inside
// the buffer even when the library fills all the rest.
template <size_t Size>
void ReadServerFilePath(char (&path)[Size], ServerFileId file)
{
    memset(path, 0, Size);
    gUserLibrary.VL_GetDBPath(path, file);
}

// Calls visit(slot, name, neededFor) for every slot of the table, with the
// name its entry point is exported under and what it is needed for.
template <class Table, class Visitor>
void ForEachEntryPoint(Table& table, Visitor&& visit)
{
#define VL_VISIT(result, name, parameters, neededFor) visit(table.name, #name, neededFor);
    VL_ENTRY_POINTS(VL_VISIT)
#undef VL_VISIT
}

// True when every entry point needed for the use is bound: a stage runs
// only then.
inline bool BoundFor(const BindingTable& table, EntryPointUse use)
{
    bool bound = true;
    ForEachEntryPoint(table, [&](auto slot, const char*, unsigned neededFor) {
        if ((neededFor & use) != 0 && slot == nullptr)
            bound = false;
    });
    return bound;
}
