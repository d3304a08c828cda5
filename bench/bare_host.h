// An ISAPI host for measuring: one posted form with the caller's Basic
// credentials, and of the answer only its status and length kept. Nothing is
// allocated while a request runs, so every allocation and every cycle of a
// run belongs to the extension and the user library.
#pragma once

#include "platform/win32.h"

#include <string>

class BareHost {
public:
    BareHost(const std::string& user, const std::string& password, const std::string& form);

    // Runs one request through HttpExtensionProc; the body's bytes are copied
    // into keep when it is given (outside any measurement).
    void Run(std::string* keep = nullptr);

    const char* Status() const { return status_; }
    size_t BodyLength() const { return bodyLength_; }

private:
    static BOOL GetServerVariable(HCONN, LPSTR, LPVOID, LPDWORD);
    static BOOL WriteClient(HCONN, LPVOID, LPDWORD, DWORD);
    static BOOL ReadClient(HCONN, LPVOID, LPDWORD);
    static BOOL ServerSupportFunction(HCONN, DWORD, LPVOID, LPDWORD, LPDWORD);

    std::string authorization_;
    std::string form_;
    std::string* keep_ = nullptr;
    char status_[64] = {};
    size_t bodyLength_ = 0;
};
