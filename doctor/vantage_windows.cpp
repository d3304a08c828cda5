#include "doctor/vantage.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

namespace {

bool SameAddress(const sockaddr* a, const sockaddr* b)
{
    if (a->sa_family != b->sa_family)
        return false;
    if (a->sa_family == AF_INET)
        return memcmp(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr,
                      &reinterpret_cast<const sockaddr_in*>(b)->sin_addr, sizeof(in_addr)) == 0;
    return memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                  &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr, sizeof(in6_addr)) == 0;
}

bool IsLoopback(const sockaddr* address)
{
    if (address->sa_family == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.S_un.S_un_b.s_b1 == 127;
    return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
}

// The unicast addresses of every adapter of this machine.
std::vector<char> Adapters()
{
    ULONG size = 16 * 1024;
    std::vector<char> buffer(size);
    for (int attempt = 0; attempt < 3; ++attempt) {
        ULONG result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (result == NO_ERROR)
            return buffer;
        if (result != ERROR_BUFFER_OVERFLOW)
            break;
        buffer.resize(size);
    }
    return {};
}

bool IsOwn(const sockaddr* address, const std::vector<char>& adapters)
{
    if (adapters.empty())
        return false;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(adapters.data()); adapter; adapter = adapter->Next)
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
            if (SameAddress(unicast->Address.lpSockaddr, address))
                return true;
    return false;
}

std::string Text(const sockaddr* address, size_t length)
{
    char text[NI_MAXHOST] = {};
    getnameinfo(address, static_cast<socklen_t>(length), text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    return text;
}

} // namespace

std::string AddressOfThisMachine(const std::string& host)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return "";
    std::string own;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0) {
        std::vector<char> adapters = Adapters();
        for (const addrinfo* entry = found; entry && own.empty(); entry = entry->ai_next) {
            bool ip = entry->ai_family == AF_INET || entry->ai_family == AF_INET6;
            if (ip && (IsLoopback(entry->ai_addr) || IsOwn(entry->ai_addr, adapters)))
                own = Text(entry->ai_addr, entry->ai_addrlen);
        }
        freeaddrinfo(found);
    }
    WSACleanup();
    return own;
}
