#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "drivers/xl/CanFrame.h"
#include "drivers/xl/XlSource.h"

namespace diagbridge::sim {

// The virtual ECU's CAN node: one channel of an XL driver source ("virtual:<bus>",
// "hub:<path>", ...), opened through the same entry points the tester uses, that hears the
// diagnostic identifiers 0x18DA xxxx and 0x18DB xxxx.
class UdsEcuLink {
  public:
    UdsEcuLink() = default;
    ~UdsEcuLink();
    UdsEcuLink(const UdsEcuLink&) = delete;
    UdsEcuLink& operator=(const UdsEcuLink&) = delete;

    // Opens a channel of the source named by selector at bitRate (bit/s); false with error set.
    bool Open(const std::string& selector, uint32_t bitRate, std::string& error);
    void Close();
    bool IsOpen() const { return port_ != xl::kInvalidPort; }

    // Puts frame on the bus; false when the channel refused it.
    bool Send(const xl::CanFrame& frame);
    // The next received data frame, waiting up to timeoutMs; false when none came.
    bool Receive(xl::CanFrame& frame, uint32_t timeoutMs);

  private:
    bool TakeFrame(xl::CanFrame& frame);
    void WaitForEvent(uint32_t ms, uint32_t& waitedMs);

    std::shared_ptr<xl::XlSource> source_;
    xl::XLportHandle port_ = xl::kInvalidPort;
    xl::XLaccess mask_ = 1;
};

}  // namespace diagbridge::sim
