// An extension for the host's own tests: it answers with what the control
// block, the server variables and ReadClient showed it, one "name=value" a line.
#include "platform/linux/isapi.h"

#include <cstring>
#include <string>

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr DWORD kReadChunk = 7;
constexpr const char* kVariables[] = {
    "HTTPS",       "HTTP_AUTHORIZATION", "REQUEST_METHOD", "CONTENT_TYPE",         "CONTENT_LENGTH", "QUERY_STRING",
    "PATH_INFO",   "REMOTE_ADDR",        "SERVER_PORT",    "HTTP_X_PROBE_HEADER", "HEADER_X_PROBE_HEADER",
    "NO_SUCH_VARIABLE",
};

std::string Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name)
{
    char value[4096];
    DWORD size = sizeof value;
    if (!ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name), value, &size))
        return "<none>";
    return std::string(value, size - 1);
}

// What a buffer one byte too small gets: the answer and the size asked for.
std::string TooSmall(EXTENSION_CONTROL_BLOCK* ecb)
{
    char value[4];
    DWORD size = strlen(ecb->lpszMethod);
    BOOL answer = ecb->GetServerVariable(ecb->ConnID, const_cast<char*>("REQUEST_METHOD"), value, &size);
    return std::to_string(answer) + "," + std::to_string(size);
}

// The body as lpbData held it, then the rest read a few bytes at a time.
std::string Body(EXTENSION_CONTROL_BLOCK* ecb, DWORD& largestRead)
{
    std::string body(reinterpret_cast<const char*>(ecb->lpbData), ecb->cbAvailable);
    while (body.size() < ecb->cbTotalBytes) {
        char chunk[kReadChunk];
        DWORD size = sizeof chunk;
        if (!ecb->ReadClient(ecb->ConnID, chunk, &size) || size == 0)
            break;
        largestRead = size > largestRead ? size : largestRead;
        body.append(chunk, size);
    }
    return body;
}

std::string Report(EXTENSION_CONTROL_BLOCK* ecb)
{
    DWORD largestRead = 0;
    std::string body = Body(ecb, largestRead);
    std::string report = "cbSize=" + std::to_string(ecb->cbSize) + "\nmethod=" + ecb->lpszMethod +
                         "\nquery=" + ecb->lpszQueryString + "\npath=" + ecb->lpszPathInfo +
                         "\ncontentType=" + ecb->lpszContentType + "\ntotal=" + std::to_string(ecb->cbTotalBytes) +
                         "\navailable=" + std::to_string(ecb->cbAvailable) + "\nbody=" + body +
                         "\nlargestRead=" + std::to_string(largestRead) + "\ntooSmall=" + TooSmall(ecb) +
                         "\nunknownSupport=" +
                         std::to_string(ecb->ServerSupportFunction(ecb->ConnID, 99, nullptr, nullptr, nullptr)) + "\n";
    for (const char* name : kVariables)
        report += std::string(name) + "=" + Variable(ecb, name) + "\n";
    return report;
}

} // namespace

PROBE_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* version)
{
    version->dwExtensionVersion = 1u << 16;
    strcpy(version->lpszExtensionDesc, "host probe");
    return TRUE;
}

PROBE_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb)
{
    std::string query = ecb->lpszQueryString;
    if (query == "unanswered")
        return HSE_STATUS_SUCCESS;

    std::string report = Report(ecb);
    std::string header = "Content-Type: text/plain\r\nContent-Length: " + std::to_string(report.size()) + "\r\n\r\n";
    HSE_SEND_HEADER_EX_INFO info{"200 OK", header.c_str(), 6, static_cast<DWORD>(header.size()), query == "keep"};
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr, nullptr);
    // In two writes, as extensions often send a body.
    DWORD half = static_cast<DWORD>(report.size() / 2);
    DWORD rest = static_cast<DWORD>(report.size()) - half;
    ecb->WriteClient(ecb->ConnID, report.data(), &half, HSE_IO_SYNC);
    ecb->WriteClient(ecb->ConnID, report.data() + half, &rest, HSE_IO_SYNC);
    return HSE_STATUS_SUCCESS;
}

PROBE_EXPORT BOOL TerminateExtension(DWORD)
{
    return TRUE;
}
