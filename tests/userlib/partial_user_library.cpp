// A user library that lacks one entry point the extension needs, chosen when
// it is built; without VL_ReloadUsers or VL_GetIsFrozen the extension must
// refuse it. Built with IMPORTS_DEPENDENCY instead, it lacks nothing but
// needs a DLL of its own. Built with MISBEHAVES, it lacks nothing, and its
// VL_ReloadUsers, or what VLUSER_MISBEHAVING_CALL names (VL_FindFirst, or
// LoadLibraryExA for its initialisation), does what the environment
// variable VLUSER_MISBEHAVIOUR names: crash, hang, exit (with status 0) or
// print (on standard output, then return).
#include "devkit/userlib/entry_points.h"

#ifdef MISBEHAVES
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

// A write through a null pointer, unchecked even where the library is built
// with UndefinedBehaviorSanitizer, which would report it and exit instead.
__attribute__((no_sanitize("undefined"))) static void Crash()
{
    // Through a pointer the compiler cannot see is null: a write, not a trap.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0;
}

static void MisbehaveIn(const std::string& call)
{
    const char* chosen = getenv("VLUSER_MISBEHAVING_CALL");
    if (call != (chosen ? chosen : "VL_ReloadUsers"))
        return;
    const char* misbehaviour = getenv("VLUSER_MISBEHAVIOUR");
    std::string what = misbehaviour ? misbehaviour : "";
    if (what == "crash") {
        Crash();
    } else if (what == "hang") {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    } else if (what == "exit") {
#ifdef _WIN32
        ExitProcess(0);
#else
        exit(0);
#endif
    } else if (what == "print") {
        puts("the user library speaks");
    }
}

static const bool gInitialised = (MisbehaveIn("LoadLibraryExA"), true);
#endif

#ifdef IMPORTS_DEPENDENCY
extern "C" __declspec(dllimport) int VL_DependencyAnswer(void);
VL_EXPORT void VL_ReloadUsers(void) { VL_DependencyAnswer(); }
#elif defined(MISBEHAVES)
VL_EXPORT void VL_ReloadUsers(void) { MisbehaveIn("VL_ReloadUsers"); }
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
VL_EXPORT int64_t VL_FindFirst(int64_t*)
{
#ifdef MISBEHAVES
    MisbehaveIn("VL_FindFirst");
#endif
    return -1;
}
VL_EXPORT uint8_t VL_FindNext(int64_t, int64_t*) { return 0; }
VL_EXPORT void VL_FindClose(int64_t) {}
VL_EXPORT void VL_GetEmail(int64_t, char* address) { address[0] = '\0'; }
VL_EXPORT void VL_GetFullName(int64_t, char* fullName) { fullName[0] = '\0'; }
#ifndef LACKS_GROUP_FIND_MEMBER
VL_EXPORT uint8_t VL_GroupFindMember(const char*, const char*) { return 0; }
#endif
