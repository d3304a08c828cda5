#include "doctor/vantage.h"

#include <algorithm>
#include <vector>

namespace {

bool IsLoopback(const std::string& address)
{
    return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

} // namespace

std::string AddressOfThisMachine(const std::string& host)
{
    std::vector<std::string> own = AddressesOfThisMachine();
    for (const std::string& address : AddressesOfHost(host))
        if (IsLoopback(address) || std::find(own.begin(), own.end(), address) != own.end())
            return address;
    return "";
}
