/* A user library built for 32-bit Windows, which a 64-bit process cannot load. */
__declspec(dllexport) void VL_ReloadUsers(void) {}
