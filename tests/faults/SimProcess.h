#pragma once
// A virtual ECU or CAN hub (diagbridge-sim) in a child process, with its standard output read
// line by line, so that a test can kill it at any moment.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace diagbridge::testing {

class SimProcess {
  public:
    SimProcess() = default;
    // Ends the process (SIGTERM, SIGKILL when it does not end within 5 s) and reaps it.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts diagbridge-sim with args and waits (at most 20 s) for a line of its output that
    // holds ready; that line, or nullopt when it did not come.
    std::optional<std::string> Start(const std::vector<std::string>& args,
                                     const std::string& ready);
    // Sends signal and reaps the process (bounded as above).
    void Kill(int signal);

  private:
    std::optional<std::string> WaitForLine(const std::string& text,
                                           std::chrono::milliseconds timeout);
    void Reap();

    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffered_;
};

// The device path at the end of a "... on /dev/pts/N" line of a pseudo-terminal ECU.
std::string DevicePathOf(const std::string& line);

}  // namespace diagbridge::testing
