// Code-page conversion between UTF-16, UTF-8 and the ANSI code page, for
// which Windows-1252 stands on Linux.
#pragma once

#include "platform/linux/win32_types.h"

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH source, int sourceLength, LPWSTR target,
                        int targetLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH source, int sourceLength, LPSTR target,
                        int targetLength, LPCCH defaultChar, LPBOOL usedDefaultChar);
