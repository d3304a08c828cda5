// What the stand-in user library exports, with C linkage and undecorated
// names on both platforms, exactly as the mail server's own library does.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define VL_EXPORT extern "C" __declspec(dllexport)
#else
#define VL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VL_EXPORT void VL_ReloadUsers(void);
VL_EXPORT void VL_GetDBPath(char* path, int32_t fileId);
VL_EXPORT int64_t VL_GetByEmail(const char* address);
VL_EXPORT uint8_t VL_GetIsDisabled(int64_t user);
VL_EXPORT uint8_t VL_GetIsFrozen(int64_t user);
VL_EXPORT uint8_t VL_GetWebConfigBit(int64_t user, int32_t bit);
VL_EXPORT uint8_t VL_ValidateUser(int64_t user, const char* password);
VL_EXPORT void VL_GetFree(int64_t user);
VL_EXPORT int64_t VL_FindFirst(int64_t* user);
VL_EXPORT uint8_t VL_FindNext(int64_t search, int64_t* user);
VL_EXPORT void VL_FindClose(int64_t search);
VL_EXPORT void VL_GetEmail(int64_t user, char* address);
VL_EXPORT void VL_GetFullName(int64_t user, char* fullName);
VL_EXPORT uint8_t VL_GroupFindMember(const char* address, const char* group);

// For tests only: user handles from VL_GetByEmail not yet given back with
// VL_GetFree, plus searches not yet closed.
VL_EXPORT int32_t VL_DevOpenHandleCount(void);
// For tests only: how often VL_ReloadUsers ran since the library was loaded.
VL_EXPORT int32_t VL_DevReloadCount(void);
