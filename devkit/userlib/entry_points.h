// What the stand-in user library exports, with C linkage and undecorated
// names on both platforms, exactly as the mail server's own library does.
#pragma once

#include "userlib/entry_point_list.h"

#include <cstdint>

#ifdef _WIN32
#define VL_EXPORT extern "C" __declspec(dllexport)
#else
#define VL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#define VL_DECLARE(result, name, parameters, neededFor) VL_EXPORT result name parameters;
VL_ENTRY_POINTS(VL_DECLARE)
#undef VL_DECLARE

// For tests only: user handles from VL_GetByEmail not yet given back with
// VL_GetFree, plus searches not yet closed.
VL_EXPORT int32_t VL_DevOpenHandleCount(void);
// For tests only: how often VL_ReloadUsers ran since the library was loaded.
VL_EXPORT int32_t VL_DevReloadCount(void);
