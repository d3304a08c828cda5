// The user library's entry points that the extension calls, in one list:
// X(result, name, parameters). The binding table, the binding code, the
// stand-in library's declarations and the tests' fake library are all made
// from it, so that none can fall out of step with another.
#pragma once

#include <stdint.h>

#define VL_ENTRY_POINTS(X)                                                   \
    X(void, VL_ReloadUsers, (void))                                          \
    X(void, VL_GetDBPath, (char* path, int32_t fileId))                      \
    X(int64_t, VL_GetByEmail, (const char* address))                         \
    X(uint8_t, VL_GetIsDisabled, (int64_t user))                             \
    X(uint8_t, VL_GetIsFrozen, (int64_t user))                               \
    X(uint8_t, VL_GetWebConfigBit, (int64_t user, int32_t bit))              \
    X(uint8_t, VL_ValidateUser, (int64_t user, const char* password))        \
    X(void, VL_GetFree, (int64_t user))                                      \
    X(int64_t, VL_FindFirst, (int64_t * user))                               \
    X(uint8_t, VL_FindNext, (int64_t search, int64_t* user))                 \
    X(void, VL_FindClose, (int64_t search))                                  \
    X(void, VL_GetEmail, (int64_t user, char* address))                      \
    X(void, VL_GetFullName, (int64_t user, char* fullName))                  \
    X(uint8_t, VL_GroupFindMember, (const char* address, const char* group))
