#include "drivers/xl/VirtualCanBus.h"

#include <algorithm>
#include <map>
#include <thread>

#include "drivers/xl/PcapWriter.h"

namespace diagbridge::xl {

namespace {

constexpr uint16_t kCrc15Polynomial = 0x4599;
constexpr int kStuffRun = 5;
// CRC delimiter, ACK slot, ACK delimiter, end of frame (7), intermission (3).
constexpr uint32_t kUnstuffedTailBits = 1 + 1 + 1 + 7 + 3;
constexpr int kMaxStuffedRegionBits = 1 + 11 + 1 + 1 + 18 + 1 + 1 + 1 + 4 + 64 + 15;

// The bits of SOF to CRC, most significant first, with the CRC appended at the end.
class FrameBitString {
  public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits_[size_++] = ((value >> i) & 1u) != 0;
    }
    void AppendCrc() {
        uint16_t crc = 0;
        for (int i = 0; i < size_; ++i) {
            const bool next = bits_[i] != (((crc >> 14) & 1u) != 0);
            crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
            if (next) crc ^= kCrc15Polynomial;
        }
        Put(crc, 15);
    }
    // Stuffed length: a complementary bit after every run of five equal bits.
    uint32_t StuffedLength() const {
        uint32_t length = 0;
        int run = 0;
        bool last = false;
        for (int i = 0; i < size_; ++i) {
            run = (i > 0 && bits_[i] == last) ? run + 1 : 1;
            last = bits_[i];
            ++length;
            if (run == kStuffRun) {
                ++length;
                last = !last;
                run = 1;
            }
        }
        return length;
    }

  private:
    bool bits_[kMaxStuffedRegionBits] = {};
    int size_ = 0;
};

}  // namespace

std::shared_ptr<VirtualCanBus> VirtualCanBus::Named(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<VirtualCanBus>> buses;
    std::lock_guard lock(mutex);
    auto& bus = buses[name];
    if (!bus) bus = std::make_shared<VirtualCanBus>(name);
    return bus;
}

uint32_t VirtualCanBus::FrameBits(const CanFrame& frame) {
    const uint8_t dlc = std::min<uint8_t>(frame.dlc, kMaxDataLength);
    FrameBitString bits;
    bits.Put(0, 1);  // start of frame
    if ((frame.id & kExtendedId) != 0) {
        const uint32_t id = frame.id & kSocketCanExtendedMask;
        bits.Put(id >> 18, 11);
        bits.Put(1, 1);  // SRR
        bits.Put(1, 1);  // IDE
        bits.Put(id & 0x3FFFF, 18);
        bits.Put(0, 1);  // RTR
        bits.Put(0, 2);  // r1, r0
    } else {
        bits.Put(frame.id & kSocketCanStandardMask, 11);
        bits.Put(0, 1);  // RTR
        bits.Put(0, 2);  // IDE, r0
    }
    bits.Put(dlc, 4);
    for (uint8_t i = 0; i < dlc; ++i) bits.Put(frame.data[i], 8);
    bits.AppendCrc();
    return bits.StuffedLength() + kUnstuffedTailBits;
}

void VirtualCanBus::SetWireTimeModel(bool on) {
    std::lock_guard lock(mutex_);
    wireTime_ = on;
}

void VirtualCanBus::HoldForWireTime(const CanFrame& frame, uint32_t bitRate) {
    if (!wireTime_ || bitRate == 0) return;
    using namespace std::chrono;
    const auto duration = nanoseconds(uint64_t{FrameBits(frame)} * 1000000000u / bitRate);
    // Like a controller with a one-frame transmit buffer: the sender waits until its frame
    // starts, not until it has ended, so its own wake-up delays leave no gaps on the wire.
    const auto start = std::max(freeAt_, steady_clock::now());
    freeAt_ = start + duration;
    std::this_thread::sleep_until(start);
}

void VirtualCanBus::Send(const CanFrame& frame, uint32_t bitRate, const void* sender) {
    std::lock_guard lock(mutex_);
    HoldForWireTime(frame, bitRate);
    CaptureFrame(frame);
    for (XlPort* port : ports_) {
        if (port != sender && port->BitRate() == bitRate) port->DeliverFromWire(frame);
    }
    // Index loop: an observer may add or remove observers while it runs.
    for (size_t i = 0; i < observers_.size(); ++i) {
        if (observers_[i] != sender) observers_[i]->OnFrame(*this, frame, bitRate);
    }
}

void VirtualCanBus::SendChipState(uint8_t busStatus, uint8_t txErrors, uint8_t rxErrors) {
    std::lock_guard lock(mutex_);
    for (XlPort* port : ports_) port->DeliverChipState(busStatus, txErrors, rxErrors);
}

void VirtualCanBus::AddObserver(VirtualBusObserver* observer) {
    std::lock_guard lock(mutex_);
    observers_.push_back(observer);
}

void VirtualCanBus::RemoveObserver(VirtualBusObserver* observer) {
    std::lock_guard lock(mutex_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void VirtualCanBus::Attach(XlPort* port) {
    std::lock_guard lock(mutex_);
    ports_.push_back(port);
}

void VirtualCanBus::Detach(XlPort* port) {
    std::lock_guard lock(mutex_);
    ports_.erase(std::remove(ports_.begin(), ports_.end(), port), ports_.end());
}

void VirtualCanBus::NotifyActivated(uint32_t bitRate) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < observers_.size(); ++i) {
        observers_[i]->OnChannelActivated(*this, bitRate);
    }
}

VirtualXlPort::VirtualXlPort(std::shared_ptr<VirtualCanBus> bus) : bus_(std::move(bus)) {
    bus_->Attach(this);
}

VirtualXlPort::~VirtualXlPort() {
    bus_->Detach(this);
}

XLstatus VirtualXlPort::SendToWire(const CanFrame& frame) {
    bus_->Send(frame, BitRate(), this);
    return kSuccess;
}

void VirtualXlPort::OnActiveChanged(bool active) {
    if (active) bus_->NotifyActivated(BitRate());
}

}  // namespace diagbridge::xl
