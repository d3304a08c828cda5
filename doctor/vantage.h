// Where the probe runs from, seen from the server: IIS answers a request
// from its own machine apart from a remote one (its detailed error pages are
// local-only by default), so a probe run on the server proves nothing of what
// a remote caller gets.
#pragma once

#include <string>

#include <vector>

// An address of `host` that is this machine's own, loopback included, or
// empty when none is (or the name cannot be looked up here).
std::string AddressOfThisMachine(const std::string& host);

// The system's half (vantage_linux.cpp, vantage_windows.cpp): numeric
// addresses, as getnameinfo writes them.
std::vector<std::string> AddressesOfHost(const std::string& host);
std::vector<std::string> AddressesOfThisMachine();
