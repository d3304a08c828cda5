// A user library that lacks one entry point the extension needs, chosen when
// it is built; without VL_ReloadUsers or VL_GetIsFrozen the extension must
// refuse it. Built with IMPORTS_DEPENDENCY instead, it lacks nothing but
// needs a DLL of its own.
#include "devkit/userlib/entry_points.h"

#ifdef IMPORTS_DEPENDENCY
extern "C" __declspec(dllimport) int VL_DependencyAnswer(void);
VL_EXPORT void VL_ReloadUsers(void) { VL_DependencyAnswer(); }
#elif !defined(LACKS_RELOAD_USERS)
VL_EXPORT void VL_ReloadUsers(void) {}
#endif
#ifndef LACKS_GET_IS_FROZEN
VL_EXPORT uint8_t VL_GetIsFrozen(int64_t) { return 0; }
#endif

VL_EXPORT void VL_GetDBPath(char* path, int32_t) { path[0] = '\0'; }
VL_EXPORT int64_t VL_GetByEmail(const char*) { return -1; }
VL_EXPORT uint8_t VL_GetIsDisabled(int64_t) { return 0; }
VL_EXPORT uint8_t VL_GetWebConfigBit(int64_t, int32_t) { return 0; }
VL_EXPORT uint8_t VL_ValidateUser(int64_t, const char*) { return 0; }
VL_EXPORT void VL_GetFree(int64_t) {}
VL_EXPORT int64_t VL_FindFirst(int64_t*) { return -1; }
VL_EXPORT uint8_t VL_FindNext(int64_t, int64_t*) { return 0; }
VL_EXPORT void VL_FindClose(int64_t) {}
VL_EXPORT void VL_GetEmail(int64_t, char* address) { address[0] = '\0'; }
VL_EXPORT void VL_GetFullName(int64_t, char* fullName) { fullName[0] = '\0'; }
#ifndef LACKS_GROUP_FIND_MEMBER
VL_EXPORT uint8_t VL_GroupFindMember(const char*, const char*) { return 0; }
#endif
