// One parsed request, as the host hands it to the extension. Built on the
// network thread, read by one worker thread while HttpExtensionProc runs,
// and destroyed on the network thread before the answer is written.
#pragma once

#include "devkit/host/wiping_allocator.h"

#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string path;
    std::string query;
    // Names as the client sent them, in the order it sent them. Values and
    // body may hold credentials, so their storage is wiped when released.
    std::vector<std::pair<std::string, WipedBytes>> headers;
    WipedBytes body;
    std::string remoteAddress;
    unsigned short localPort = 0;
    bool https = false;
};
