// The user library's entry points that the extension calls, in one list:
// X(result, name, parameters, neededFor). The binding table, the binding
// code, the checks before each stage, the doctor's report of a missing entry
// point, the stand-in library's declarations and the tests' fake library are
// all made from it, so that none can fall out of step with another.
#pragma once

#include <stdint.h>

// What an entry point is needed for. Without one needed to load or for the
// load test the extension refuses to load; without one needed by a request
// stage that stage answers 500.
enum EntryPointUse : unsigned {
    kNeededToLoad = 1u << 0,
    kNeededForLoadTest = 1u << 1,
    kNeededForCallerCheck = 1u << 2,
    kNeededForList = 1u << 3,
    kNeededForAuth = 1u << 4,
};

#define VL_ENTRY_POINTS(X)                                                                                    \
    X(void, VL_ReloadUsers, (void), kNeededToLoad)                                                            \
    X(void, VL_GetDBPath, (char* path, int32_t fileId), kNeededForList)                                       \
    X(int64_t, VL_GetByEmail, (const char* address), kNeededForCallerCheck | kNeededForAuth)                  \
    X(uint8_t, VL_GetIsDisabled, (int64_t user), kNeededForCallerCheck | kNeededForAuth)                      \
    X(uint8_t, VL_GetIsFrozen, (int64_t user), kNeededForLoadTest | kNeededForAuth)                           \
    X(uint8_t, VL_GetWebConfigBit, (int64_t user, int32_t bit), kNeededForCallerCheck)                        \
    X(uint8_t, VL_ValidateUser, (int64_t user, const char* password), kNeededForCallerCheck | kNeededForAuth) \
    X(void, VL_GetFree, (int64_t user), kNeededForCallerCheck | kNeededForAuth)                               \
    X(int64_t, VL_FindFirst, (int64_t * user), kNeededForList)                                                \
    X(uint8_t, VL_FindNext, (int64_t search, int64_t* user), kNeededForList)                                  \
    X(void, VL_FindClose, (int64_t search), kNeededForList)                                                   \
    X(void, VL_GetEmail, (int64_t user, char* address), kNeededForList)                                       \
    X(void, VL_GetFullName, (int64_t user, char* fullName), kNeededForList)                                   \
    X(uint8_t, VL_GroupFindMember, (const char* address, const char* group), kNeededForList)
