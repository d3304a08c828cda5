#include "doctor/vantage.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

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
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
}

bool IsOwn(const sockaddr* address, const ifaddrs* interfaces)
{
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next)
        if (entry->ifa_addr && SameAddress(entry->ifa_addr, address))
            return true;
    return false;
}

std::string Text(const sockaddr* address, socklen_t length)
{
    char text[NI_MAXHOST] = {};
    getnameinfo(address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    return text;
}

} // namespace

std::string AddressOfThisMachine(const std::string& host)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return "";
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        interfaces = nullptr;
    std::string own;
    for (const addrinfo* entry = found; entry && own.empty(); entry = entry->ai_next) {
        bool ip = entry->ai_family == AF_INET || entry->ai_family == AF_INET6;
        if (ip && (IsLoopback(entry->ai_addr) || IsOwn(entry->ai_addr, interfaces)))
            own = Text(entry->ai_addr, entry->ai_addrlen);
    }
    if (interfaces)
        freeifaddrs(interfaces);
    freeaddrinfo(found);
    return own;
}
