#pragma once
#include <cstdio>
#include <mutex>
#include <string>

#include "drivers/xl/CanFrame.h"

namespace diagbridge::xl {

// Writes CAN frames to a pcap file for Wireshark: link type 227 (LINKTYPE_CAN_SOCKETCAN),
// one 16-byte socketcan record per frame with the identifier word big-endian.
class PcapWriter {
  public:
    static constexpr uint32_t kLinkTypeCanSocketCan = 227;

    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates (truncates) path and writes the file header; false when it cannot be written.
    bool Open(const std::string& path);
    void Close();
    // Appends one record stamped with the wall clock; no-op when not open. Thread-safe.
    void Write(const CanFrame& frame);

    // The process-wide writer of the file named by DIAGBRIDGE_CAN_PCAP; null when unset.
    static PcapWriter* Process();

  private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// Writes frame to the process-wide captures (pcap, candump log), if any.
void CaptureFrame(const CanFrame& frame);

}  // namespace diagbridge::xl
