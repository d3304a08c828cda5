#include "devkit/host/access_log.h"

#include <cstdio>
#include <ctime>

namespace {

std::string UtcTimestamp()
{
    auto now = std::chrono::system_clock::now();
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(milliseconds));
    return text;
}

// Absent parts, such as the method of a request that could not be parsed, read as "-".
const char* OrDash(const std::string& text)
{
    return text.empty() ? "-" : text.c_str();
}

} // namespace

void WriteAccessLine(const AccessRecord& record)
{
    double milliseconds = std::chrono::duration<double, std::milli>(record.elapsed).count();
    // One call per line: stdio's lock keeps lines from different threads whole.
    std::printf("%s %s %s %s %u %llu %.3fms%s\n", UtcTimestamp().c_str(), OrDash(record.client),
                OrDash(record.method), OrDash(record.path), record.status,
                static_cast<unsigned long long>(record.bytes), milliseconds,
                record.delivered ? "" : " undelivered");
    std::fflush(stdout);
}
