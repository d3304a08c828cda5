#include "platform/linux/profile.h"

#include <cstring>

DWORD GetPrivateProfileStringA(LPCSTR, LPCSTR, LPCSTR defaultValue, LPSTR result, DWORD size, LPCSTR)
{
    if (size == 0)
        return 0;
    strncpy(result, defaultValue ? defaultValue : "", size - 1);
    result[size - 1] = '\0';
    return static_cast<DWORD>(strlen(result));
}
BOOL WritePrivateProfileStringA(LPCSTR, LPCSTR, LPCSTR, LPCSTR) { return FALSE; }
