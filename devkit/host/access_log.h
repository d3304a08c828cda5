// The access log: one line per request on stdout.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct AccessRecord {
    std::string client;
    std::string method;
    std::string path;
    unsigned status = 0;
    // What reached the client.
    uint64_t bytes = 0;
    std::chrono::steady_clock::duration elapsed{};
    // False when the client went away or stopped reading before the whole answer was written.
    bool delivered = true;
};

// "2024-05-01T09:30:00.123Z 127.0.0.1 POST /path 200 512 1.234ms", flushed at once
// so that a tail or a pipe sees each request as it ends. An answer not
// delivered whole gets " undelivered" at the end of its line.
void WriteAccessLine(const AccessRecord& record);
