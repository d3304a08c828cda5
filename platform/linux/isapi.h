// ISAPI types and constants with the memory layout of the Windows x64 headers.
#pragma once

#include "platform/linux/win32_types.h"

typedef void* HCONN;

#define HSE_STATUS_SUCCESS 1
#define HSE_REQ_SEND_RESPONSE_HEADER_EX 1016
#define HSE_IO_SYNC 0x00000001
#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_LOG_BUFFER_LEN 80

struct HSE_VERSION_INFO {
    DWORD dwExtensionVersion;
    CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};
typedef HSE_VERSION_INFO* LPHSE_VERSION_INFO;

struct EXTENSION_CONTROL_BLOCK {
    DWORD cbSize;
    DWORD dwVersion;
    HCONN ConnID;
    DWORD dwHttpStatusCode;
    CHAR lpszLogData[HSE_LOG_BUFFER_LEN];
    LPSTR lpszMethod;
    LPSTR lpszQueryString;
    LPSTR lpszPathInfo;
    LPSTR lpszPathTranslated;
    DWORD cbTotalBytes;
    DWORD cbAvailable;
    LPBYTE lpbData;
    LPSTR lpszContentType;
    BOOL (*GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
    BOOL (*WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
    BOOL (*ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
    BOOL (*ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer, LPDWORD lpdwSize,
                                  LPDWORD lpdwDataType);
};
typedef EXTENSION_CONTROL_BLOCK* LPEXTENSION_CONTROL_BLOCK;

struct HSE_SEND_HEADER_EX_INFO {
    LPCSTR pszStatus;
    LPCSTR pszHeader;
    DWORD cchStatus;
    DWORD cchHeader;
    BOOL fKeepConn;
};
typedef HSE_SEND_HEADER_EX_INFO* LPHSE_SEND_HEADER_EX_INFO;

// Hosts and tools outside the project build against this layout.
static_assert(sizeof(EXTENSION_CONTROL_BLOCK) == 192);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ConnID) == 8);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, dwHttpStatusCode) == 16);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszLogData) == 20);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == 104);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbTotalBytes) == 136);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbAvailable) == 140);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpbData) == 144);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszContentType) == 152);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, GetServerVariable) == 160);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, WriteClient) == 168);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ReadClient) == 176);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ServerSupportFunction) == 184);
static_assert(sizeof(HSE_VERSION_INFO) == 260);
static_assert(offsetof(HSE_SEND_HEADER_EX_INFO, cchStatus) == 16);
static_assert(offsetof(HSE_SEND_HEADER_EX_INFO, fKeepConn) == 24);
