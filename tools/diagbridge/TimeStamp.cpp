#include "tools/diagbridge/TimeStamp.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace diagbridge::cli {

std::string TimeStamp() {
    using namespace std::chrono;
    constexpr long long kMsPerSecond = 1000;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % kMsPerSecond;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof(text) - length, ".%03lldZ", ms);
    return text;
}

}  // namespace diagbridge::cli
