#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/xl/CanFrame.h"
#include "drivers/xl/XlPort.h"

namespace diagbridge::xl {

class VirtualCanBus;

// Something on a virtual bus that is not an XL port: a scripted ECU, a traffic source, a
// recorder. Called on the sending thread with the bus locked; it may send from inside.
class VirtualBusObserver {
  public:
    virtual ~VirtualBusObserver() = default;
    // A frame went over the bus at bitRate (bit/s).
    virtual void OnFrame(VirtualCanBus&, const CanFrame&, uint32_t /*bitRate*/) {}
    // An XL channel went on the bus at bitRate.
    virtual void OnChannelActivated(VirtualCanBus&, uint32_t /*bitRate*/) {}
};

// An in-process CAN bus. Frames reach only channels set to the sender's bit rate, as on a real
// bus. Optionally each frame occupies the bus for its wire time (stuffed bit count / bit rate):
// frames follow each other on one timeline in the order they were sent, each reaches the
// channels when its last bit is on the wire, and a sender is held while its frames fill a
// controller's transmit queue. Buses are found by name; each is independent.
class VirtualCanBus {
  public:
    // The bus of that name, created on first use; lives as long as the process.
    static std::shared_ptr<VirtualCanBus> Named(const std::string& name);

    // Bits a data frame takes on the wire: stuffed SOF..CRC, then delimiters, ACK, EOF and the
    // 3-bit intermission.
    static uint32_t FrameBits(const CanFrame& frame);

    // Frames a sender may have waiting for the wire before Send holds it; it is then held
    // until half of them are on the wire, so that it wakes once per several frames.
    static constexpr uint32_t kTransmitQueueFrames = 64;

    // When on, frames take their wire time and senders are paced; off by default.
    void SetWireTimeModel(bool on);

    // Puts frame on the bus at bitRate. sender (a port or an observer) does not get it back.
    // Observers see it at once, in bus order; channels receive it at the end of its wire time.
    void Send(const CanFrame& frame, uint32_t bitRate, const void* sender);
    // Reports a chip state to every channel on the bus (for example bus-off 0x01, 255, 255).
    void SendChipState(uint8_t busStatus, uint8_t txErrors, uint8_t rxErrors);

    void AddObserver(VirtualBusObserver* observer);
    void RemoveObserver(VirtualBusObserver* observer);

    void Attach(XlPort* port);
    void Detach(XlPort* port);
    void NotifyActivated(uint32_t bitRate);

    explicit VirtualCanBus(std::string name) : name_(std::move(name)) {}
    const std::string& Name() const { return name_; }

  private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Slot {
        TimePoint arrival;    // end of the frame's wire time; TimePoint{} at once
        TimePoint holdUntil;  // the sender waits until then; TimePoint{} not at all
    };
    // Caller holds mutex_: the frame's place on the timeline.
    Slot PlaceOnWire(const CanFrame& frame, uint32_t bitRate);

    const std::string name_;
    std::recursive_mutex mutex_;
    std::vector<XlPort*> ports_;
    std::vector<VirtualBusObserver*> observers_;
    bool wireTime_ = false;
    TimePoint freeAt_{};
};

// An XL port on a virtual bus.
class VirtualXlPort final : public XlPort {
  public:
    explicit VirtualXlPort(std::shared_ptr<VirtualCanBus> bus);
    ~VirtualXlPort() override;

  protected:
    XLstatus SendToWire(const CanFrame& frame) override;
    void OnActiveChanged(bool active) override;

  private:
    std::shared_ptr<VirtualCanBus> bus_;
};

}  // namespace diagbridge::xl
