#include "bench/bare_host.h"

#include "tests/fake_host.h"

#include <algorithm>
#include <cstring>

BareHost::BareHost(const std::string& user, const std::string& password, const std::string& form)
    : authorization_("Basic " + EncodeBase64(user + ":" + password)), form_(form)
{
}

void BareHost::Run(std::string* keep)
{
    keep_ = keep;
    status_[0] = '\0';
    bodyLength_ = 0;
    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.cbSize = sizeof ecb;
    ecb.ConnID = this;
    ecb.lpszMethod = const_cast<char*>("POST");
    ecb.lpszQueryString = const_cast<char*>("");
    ecb.lpszPathInfo = const_cast<char*>("/TessalineIntegration.dll");
    ecb.lpszPathTranslated = const_cast<char*>("");
    ecb.cbTotalBytes = static_cast<DWORD>(form_.size());
    ecb.cbAvailable = static_cast<DWORD>(form_.size());
    ecb.lpbData = reinterpret_cast<LPBYTE>(form_.data());
    ecb.lpszContentType = const_cast<char*>("application/x-www-form-urlencoded");
    ecb.GetServerVariable = GetServerVariable;
    ecb.WriteClient = WriteClient;
    ecb.ReadClient = ReadClient;
    ecb.ServerSupportFunction = ServerSupportFunction;
    HttpExtensionProc(&ecb);
}

BOOL BareHost::GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size)
{
    auto* host = static_cast<BareHost*>(connection);
    const char* value = strcmp(name, "HTTPS") == 0                ? "on"
                        : strcmp(name, "HTTP_AUTHORIZATION") == 0 ? host->authorization_.c_str()
                                                                  : nullptr;
    if (!value)
        return FALSE;
    DWORD needed = static_cast<DWORD>(strlen(value) + 1);
    if (*size < needed) {
        *size = needed;
        return FALSE;
    }
    memcpy(buffer, value, needed);
    *size = needed;
    return TRUE;
}

BOOL BareHost::WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD)
{
    auto* host = static_cast<BareHost*>(connection);
    host->bodyLength_ += *bytes;
    if (host->keep_)
        host->keep_->append(static_cast<const char*>(buffer), *bytes);
    return TRUE;
}

BOOL BareHost::ReadClient(HCONN, LPVOID, LPDWORD size)
{
    *size = 0;
    return TRUE;
}

BOOL BareHost::ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD, LPDWORD)
{
    if (request != HSE_REQ_SEND_RESPONSE_HEADER_EX)
        return FALSE;
    auto* host = static_cast<BareHost*>(connection);
    const auto* info = static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer);
    size_t count = std::min<size_t>(info->cchStatus, sizeof host->status_ - 1);
    memcpy(host->status_, info->pszStatus, count);
    host->status_[count] = '\0';
    return TRUE;
}
