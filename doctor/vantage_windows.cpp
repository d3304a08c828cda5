#include "doctor/vantage.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

namespace {

std::string Text(const sockaddr* address, size_t length)
{
    char text[NI_MAXHOST] = {};
    getnameinfo(address, static_cast<socklen_t>(length), text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    return text;
}

bool IsIp(const sockaddr* address)
{
    return address && (address->sa_family == AF_INET || address->sa_family == AF_INET6);
}

// Winsock for the length of one call.
class Winsock {
public:
    Winsock() { started_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~Winsock()
    {
        if (started_)
            WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool Started() const { return started_; }

private:
    WSADATA data_{};
    bool started_ = false;
};

} // namespace

std::vector<std::string> AddressesOfHost(const std::string& host)
{
    std::vector<std::string> addresses;
    Winsock winsock;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!winsock.Started() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next)
        if (IsIp(entry->ai_addr))
            addresses.push_back(Text(entry->ai_addr, entry->ai_addrlen));
    freeaddrinfo(found);
    return addresses;
}

// The unicast addresses of every adapter.
std::vector<std::string> AddressesOfThisMachine()
{
    std::vector<std::string> addresses;
    Winsock winsock;
    ULONG size = 16 * 1024;
    std::vector<char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (!winsock.Started() || result != NO_ERROR)
        return addresses;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next)
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
            if (IsIp(unicast->Address.lpSockaddr))
                addresses.push_back(Text(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength));
    return addresses;
}
