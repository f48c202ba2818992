#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/kline/PseudoTerminal.h"

namespace diagbridge::sim {

// The controller's end of a pseudo-terminal for the virtual serial controllers: bounded
// reads that a Stop from another thread ends at once, and bounded writes.
class PtyEndpoint {
  public:
    PtyEndpoint() = default;
    ~PtyEndpoint();
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    // Creates the terminal and the stop signal; false when none is left.
    bool Open();
    // Wakes a waiting Read with "stopped"; safe from any thread.
    void RequestStop();
    // Closes everything (the line thread must have ended).
    void Close();
    const std::string& DevicePath() const { return terminal_.SlavePath(); }

    enum class ReadResult { kData, kTimeout, kStopped };
    // Waits at most timeoutMs for bytes and appends what came to bytes.
    ReadResult Read(std::vector<uint8_t>& bytes, int timeoutMs);
    // Writes all bytes (at most 1 s when the program stopped reading).
    void Send(const std::vector<uint8_t>& bytes);
    // False when Stop was requested during the wait.
    bool Pause(uint32_t ms);

  private:
    PseudoTerminal terminal_;
    int stopPipe_[2] = {-1, -1};
};

}  // namespace diagbridge::sim
