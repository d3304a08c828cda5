// A small ISAPI host for tests: it builds a control block for one request,
// hands the body over as a host would, and keeps exactly what the extension
// sent back.
#pragma once

#include "platform/win32.h"

#include <map>
#include <string>
#include <vector>

struct HostAnswer {
    int headerCalls = 0;
    std::string status;
    std::string headers;
    DWORD cchStatus = 0;
    DWORD cchHeader = 0;
    BOOL keepConnection = TRUE;
    DWORD statusCode = 0;
    std::vector<std::string> writes; // every WriteClient call, a failed one too
    std::vector<DWORD> writeFlags;
    DWORD returned = 0; // what HttpExtensionProc gave back

    // Everything written, joined.
    std::string Body() const;
};

class FakeHost {
public:
    std::string method = "POST";
    std::string contentType = "application/x-www-form-urlencoded";
    std::map<std::string, std::string> variables{{"HTTPS", "on"}};
    std::string body;
    // Bytes of the body already in lpbData; the rest comes through ReadClient.
    DWORD available = UINT32_MAX;
    // Set to report a total that differs from the body's size.
    DWORD declaredTotal = UINT32_MAX;
    // The most that one ReadClient call delivers.
    DWORD readChunk = UINT32_MAX;
    bool readFails = false;
    // Each host callback can fail, as it does when the client has gone.
    bool writeFails = false;
    // The first WriteClient call that fails, counted from 1, and every one
    // after it: the client went away part way through the answer.
    size_t firstFailingWrite = 0;
    bool headerFails = false;
    bool variablesFail = false;

    int readCalls = 0;
    std::vector<DWORD> readRequests;

    FakeHost& WithBasic(const std::string& user, const std::string& password);
    FakeHost& WithForm(const std::string& form);

    HostAnswer Run();

    // Runs a request with the given extension entry point instead of the
    // one linked into the test.
    HostAnswer RunWith(DWORD (*httpExtensionProc)(EXTENSION_CONTROL_BLOCK*));

private:
    static BOOL GetServerVariable(HCONN, LPSTR, LPVOID, LPDWORD);
    static BOOL WriteClient(HCONN, LPVOID, LPDWORD, DWORD);
    static BOOL ReadClient(HCONN, LPVOID, LPDWORD);
    static BOOL ServerSupportFunction(HCONN, DWORD, LPVOID, LPDWORD, LPDWORD);

    HostAnswer answer_;
    size_t delivered_ = 0;
};

std::string EncodeBase64(const std::string& bytes);

EXTENSION_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
