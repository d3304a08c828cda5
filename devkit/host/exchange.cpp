#include "devkit/host/exchange.h"

#include "devkit/host/server_variables.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr DWORD kHostIsapiVersion = 8u << 16; // as IIS 7 and later report it
constexpr DWORD kAsynchronousIo = 2;          // HSE_IO_ASYNC, which this host does not offer

// The number at the start of a status text such as "200 OK".
unsigned StatusNumber(std::string_view status)
{
    unsigned number = 0;
    for (char c : status) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number;
}

} // namespace

Exchange& Exchange::Of(HCONN connection)
{
    Exchange& exchange = *static_cast<Exchange*>(connection);
    assert(exchange.owner_.IsCurrent() && "the extension calls back on the thread running its HttpExtensionProc");
    return exchange;
}

Exchange::Exchange(const HttpRequest& request, std::size_t readAhead, const std::string& root,
                   AnswerBudget& budget)
    : request_(request), method_(request.method), query_(request.query), path_(request.path),
      pathTranslated_(root + request.path),
      contentType_(ViewOf(LookUpServerVariable(request, "CONTENT_TYPE").value_or(WipedBytes()))),
      available_(std::min(readAhead, request.body.size())), delivered_(available_)
{
    outcome_.answer = HeldAnswer(budget);
}

ExchangeOutcome Exchange::Run(const ExtensionModule& extension)
{
    assert(owner_.IsCurrent() && "an exchange runs on the worker thread that made it");
    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.cbSize = sizeof ecb;
    ecb.dwVersion = kHostIsapiVersion;
    ecb.ConnID = this;
    ecb.lpszMethod = method_.data();
    ecb.lpszQueryString = query_.data();
    ecb.lpszPathInfo = path_.data();
    ecb.lpszPathTranslated = pathTranslated_.data();
    ecb.cbTotalBytes = static_cast<DWORD>(request_.body.size());
    ecb.cbAvailable = static_cast<DWORD>(available_);
    ecb.lpbData = reinterpret_cast<LPBYTE>(const_cast<char*>(request_.body.data()));
    ecb.lpszContentType = contentType_.data();
    ecb.GetServerVariable = GetServerVariable;
    ecb.WriteClient = WriteClient;
    ecb.ReadClient = ReadClient;
    ecb.ServerSupportFunction = ServerSupportFunction;

    extension.HandleRequest(&ecb);
    if (outcome_.status == 0)
        outcome_.status = ecb.dwHttpStatusCode;
    return std::move(outcome_);
}

bool Exchange::Send(std::string_view bytes)
{
    outcome_.answered = true;
    if (outcome_.overBudget)
        return false;
    if (outcome_.answer.Append(bytes))
        return true;
    // Let go at once, so that an answer that cannot be sent takes no room
    // from the others being collected meanwhile. The extension is told its
    // write failed, as when a client goes away, and no more is taken.
    outcome_.overBudget = true;
    outcome_.answer.Release();
    return false;
}

bool Exchange::SendHeader(const HSE_SEND_HEADER_EX_INFO& info)
{
    std::string_view status = info.pszStatus ? std::string_view(info.pszStatus, info.cchStatus) : "200 OK";
    std::string_view header = info.pszHeader ? std::string_view(info.pszHeader, info.cchHeader) : "\r\n";
    outcome_.status = StatusNumber(status);
    outcome_.keepConnection = info.fKeepConn != FALSE;

    // Piece by piece, so that nothing is allocated outside Send, where a
    // failed allocation is a failed write rather than an exception thrown
    // into the extension.
    return Send("HTTP/1.1 ") && Send(status) && Send("\r\n") && Send(header);
}

BOOL Exchange::GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size)
{
    if (!name || !size)
        return FALSE;
    std::optional<WipedBytes> value;
    try {
        value = LookUpServerVariable(Of(connection).request_, name);
    } catch (const std::bad_alloc&) {
        // Called from the extension, where no exception may go.
        return FALSE;
    }
    if (!value)
        return FALSE;
    DWORD needed = static_cast<DWORD>(value->size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        return FALSE;
    }
    *std::copy(value->begin(), value->end(), static_cast<char*>(buffer)) = '\0';
    *size = needed;
    return TRUE;
}

BOOL Exchange::WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD flags)
{
    if (!bytes || (flags & kAsynchronousIo) || (*bytes && !buffer))
        return FALSE;
    // Collected in full: the network thread writes it once the extension has returned.
    return Of(connection).Send(std::string_view(static_cast<const char*>(buffer), *bytes)) ? TRUE : FALSE;
}

BOOL Exchange::ReadClient(HCONN connection, LPVOID buffer, LPDWORD size)
{
    Exchange& exchange = Of(connection);
    if (!size || (*size && !buffer))
        return FALSE;
    const WipedBytes& body = exchange.request_.body;
    std::size_t count = std::min<std::size_t>(*size, body.size() - exchange.delivered_);
    if (count)
        memcpy(buffer, body.data() + exchange.delivered_, count);
    exchange.delivered_ += count;
    *size = static_cast<DWORD>(count);
    return TRUE;
}

BOOL Exchange::ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD, LPDWORD)
{
    if (request != HSE_REQ_SEND_RESPONSE_HEADER_EX || !buffer)
        return FALSE;
    return Of(connection).SendHeader(*static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer)) ? TRUE : FALSE;
}
