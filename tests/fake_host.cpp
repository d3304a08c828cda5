#include "tests/fake_host.h"

#include <algorithm>
#include <cstring>

std::string HostAnswer::Body() const
{
    std::string joined;
    for (const std::string& write : writes)
        joined += write;
    return joined;
}

std::string EncodeBase64(const std::string& bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
    }
    if (bytes.size() - i == 1) {
        unsigned v = (unsigned char)bytes[i] << 16;
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], '=', '='};
    } else if (bytes.size() - i == 2) {
        unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], '='};
    }
    return out;
}

FakeHost& FakeHost::WithBasic(const std::string& user, const std::string& password)
{
    variables["HTTP_AUTHORIZATION"] = "Basic " + EncodeBase64(user + ":" + password);
    return *this;
}

FakeHost& FakeHost::WithForm(const std::string& form)
{
    body = form;
    return *this;
}

HostAnswer FakeHost::Run()
{
    return RunWith(HttpExtensionProc);
}

HostAnswer FakeHost::RunWith(DWORD (*httpExtensionProc)(EXTENSION_CONTROL_BLOCK*))
{
    answer_ = {};
    delivered_ = std::min<size_t>(available, body.size());
    readCalls = 0;
    readRequests.clear();

    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.cbSize = sizeof ecb;
    ecb.ConnID = this;
    ecb.lpszMethod = method.data();
    ecb.lpszQueryString = const_cast<char*>("");
    ecb.lpszPathInfo = const_cast<char*>("/TessalineIntegration.dll");
    ecb.lpszPathTranslated = const_cast<char*>("");
    ecb.cbTotalBytes = declaredTotal != UINT32_MAX ? declaredTotal : static_cast<DWORD>(body.size());
    ecb.cbAvailable = static_cast<DWORD>(available != UINT32_MAX ? available : body.size());
    ecb.lpbData = reinterpret_cast<LPBYTE>(body.data());
    ecb.lpszContentType = contentType.data();
    ecb.GetServerVariable = GetServerVariable;
    ecb.WriteClient = WriteClient;
    ecb.ReadClient = ReadClient;
    ecb.ServerSupportFunction = ServerSupportFunction;

    answer_.returned = httpExtensionProc(&ecb);
    answer_.statusCode = ecb.dwHttpStatusCode;
    return answer_;
}

BOOL FakeHost::GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size)
{
    auto* host = static_cast<FakeHost*>(connection);
    if (host->variablesFail)
        return FALSE;
    auto found = host->variables.find(name);
    if (found == host->variables.end())
        return FALSE;
    DWORD needed = static_cast<DWORD>(found->second.size() + 1);
    if (*size < needed) {
        *size = needed;
        return FALSE;
    }
    memcpy(buffer, found->second.c_str(), needed);
    *size = needed;
    return TRUE;
}

BOOL FakeHost::WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD flags)
{
    auto* host = static_cast<FakeHost*>(connection);
    host->answer_.writes.emplace_back(static_cast<const char*>(buffer), *bytes);
    host->answer_.writeFlags.push_back(flags);
    bool gone = host->firstFailingWrite != 0 && host->answer_.writes.size() >= host->firstFailingWrite;
    return host->writeFails || gone ? FALSE : TRUE;
}

BOOL FakeHost::ReadClient(HCONN connection, LPVOID buffer, LPDWORD size)
{
    auto* host = static_cast<FakeHost*>(connection);
    ++host->readCalls;
    host->readRequests.push_back(*size);
    if (host->readFails)
        return FALSE;
    size_t count = std::min<size_t>({*size, host->readChunk, host->body.size() - host->delivered_});
    memcpy(buffer, host->body.data() + host->delivered_, count);
    host->delivered_ += count;
    *size = static_cast<DWORD>(count);
    return TRUE;
}

BOOL FakeHost::ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                     LPDWORD dataType)
{
    auto* host = static_cast<FakeHost*>(connection);
    if (request != HSE_REQ_SEND_RESPONSE_HEADER_EX || size || dataType)
        return FALSE;
    auto* info = static_cast<HSE_SEND_HEADER_EX_INFO*>(buffer);
    HostAnswer& answer = host->answer_;
    ++answer.headerCalls;
    answer.status.assign(info->pszStatus, info->cchStatus);
    answer.headers.assign(info->pszHeader, info->cchHeader);
    answer.cchStatus = info->cchStatus;
    answer.cchHeader = info->cchHeader;
    answer.keepConnection = info->fKeepConn;
    return host->headerFails ? FALSE : TRUE;
}
