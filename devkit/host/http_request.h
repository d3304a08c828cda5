// One parsed request, as the host hands it to the extension.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string path;
    std::string query;
    // Names as the client sent them, in the order it sent them.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string remoteAddress;
    unsigned short localPort = 0;
    bool https = false;
};
