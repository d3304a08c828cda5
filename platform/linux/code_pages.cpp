#include "platform/linux/code_pages.h"

int MultiByteToWideChar(UINT, DWORD, LPCCH, int, LPWSTR, int) { return 0; }
int WideCharToMultiByte(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL) { return 0; }
