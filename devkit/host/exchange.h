// One request between host and extension: the control block the extension
// sees and the callbacks through which it reads the request and answers.
#pragma once

#include "devkit/host/extension_module.h"
#include "devkit/host/http_request.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Where the extension's bytes go.
class ClientWriter {
public:
    // Sends the bytes to the client and returns once they are out; false when
    // the client is gone.
    virtual bool Write(std::string_view bytes) = 0;

protected:
    ~ClientWriter() = default;
};

struct ExchangeOutcome {
    // Whether the extension sent anything at all.
    bool answered = false;
    bool keepConnection = false;
    unsigned status = 0;
    uint64_t bytesSent = 0;
};

class Exchange {
public:
    // The root stands for the site's directory in lpszPathTranslated.
    Exchange(const HttpRequest& request, ClientWriter& writer, std::size_t readAhead, const std::string& root);
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Runs HttpExtensionProc on the calling thread and says how it answered.
    ExchangeOutcome Run(const ExtensionModule& extension);

private:
    static BOOL GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size);
    static BOOL WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD flags);
    static BOOL ReadClient(HCONN connection, LPVOID buffer, LPDWORD size);
    static BOOL ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                      LPDWORD dataType);

    bool Send(std::string_view bytes);
    bool SendHeader(const HSE_SEND_HEADER_EX_INFO& info);

    const HttpRequest& request_;
    ClientWriter& writer_;
    // Writable copies: the control block hands out LPSTR, not const strings.
    std::string method_;
    std::string query_;
    std::string path_;
    std::string pathTranslated_;
    std::string contentType_;
    std::size_t available_;
    std::size_t delivered_;
    ExchangeOutcome outcome_;
};
