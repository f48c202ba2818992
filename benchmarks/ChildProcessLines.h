// What the benchmarks that run a virtual controller in a child process share: the process's
// CPU time, and one line at a time over the pipes between parent and child.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <string>

namespace diagbridge::bench {

// User plus system CPU seconds of this process so far (all its threads).
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Reads up to the next '\n' (not stored); false when the pipe ends first.
inline bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c = 0;
    while (::read(fd, &c, 1) == 1) {
        if (c == '\n') return true;
        line += c;
    }
    return false;
}

// Writes text and '\n'; a child whose parent has gone ends at once.
inline void WriteLine(int fd, const std::string& text) {
    const std::string line = text + "\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(1);
}

}  // namespace diagbridge::bench
