#pragma once
#include <cstdio>
#include <mutex>
#include <string>

#include "drivers/xl/CanFrame.h"

namespace diagbridge::xl {

// Writes CAN frames as a can-utils `candump -L` log: one line per frame,
// "(<seconds>.<microseconds>) <interface> <id>#<data hex>", read by canplayer, log2asc,
// python-can and Wireshark. Standard identifiers have 3 hex digits, extended ones 8.
class CandumpWriter {
  public:
    static constexpr const char* kInterfaceName = "can0";
    // The environment variable naming the process-wide log file.
    static constexpr const char* kEnvironmentVariable = "DIAGBRIDGE_CAN_CANDUMP";

    CandumpWriter() = default;
    ~CandumpWriter();
    CandumpWriter(const CandumpWriter&) = delete;
    CandumpWriter& operator=(const CandumpWriter&) = delete;

    // Creates (truncates) path; false when it cannot be written.
    bool Open(const std::string& path);
    void Close();
    // Appends one line stamped with the wall clock; no-op when not open. Thread-safe.
    void Write(const CanFrame& frame);

    // The process-wide writer of the file named by DIAGBRIDGE_CAN_CANDUMP; null when unset.
    static CandumpWriter* Process();

  private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// One frame in the log's text form without time stamp and interface: "7E0#0322F190".
std::string CandumpFrameText(const CanFrame& frame);

}  // namespace diagbridge::xl
