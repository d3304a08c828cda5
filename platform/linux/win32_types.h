// The Win32 base types, with the sizes of 64-bit Windows.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const char* LPCCH;
typedef unsigned char BYTE;
typedef unsigned char* LPBYTE;
typedef uint32_t* LPDWORD;
typedef BOOL* LPBOOL;
typedef void* LPVOID;
typedef void* HANDLE;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* LPCWCH;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
