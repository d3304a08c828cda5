#include "doctor/vantage.h"

#include <ifaddrs.h>
#include <netdb.h>

namespace {

std::string Text(const sockaddr* address, socklen_t length)
{
    char text[NI_MAXHOST] = {};
    getnameinfo(address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    return text;
}

bool IsIp(const sockaddr* address)
{
    return address && (address->sa_family == AF_INET || address->sa_family == AF_INET6);
}

} // namespace

std::vector<std::string> AddressesOfHost(const std::string& host)
{
    std::vector<std::string> addresses;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next)
        if (IsIp(entry->ai_addr))
            addresses.push_back(Text(entry->ai_addr, entry->ai_addrlen));
    freeaddrinfo(found);
    return addresses;
}

std::vector<std::string> AddressesOfThisMachine()
{
    std::vector<std::string> addresses;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return addresses;
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next)
        if (IsIp(entry->ifa_addr))
            addresses.push_back(Text(entry->ifa_addr, entry->ifa_addr->sa_family == AF_INET ? sizeof(sockaddr_in)
                                                                                           : sizeof(sockaddr_in6)));
    freeifaddrs(interfaces);
    return addresses;
}
