#include "drivers/xl/VirtualCanBus.h"

#include <algorithm>
#include <map>
#include <thread>

#include "drivers/xl/PcapWriter.h"

namespace diagbridge::xl {

namespace {

constexpr uint16_t kCrc15Polynomial = 0x4599;
constexpr uint32_t kStuffRun = 5;
// CRC delimiter, ACK slot, ACK delimiter, end of frame (7), intermission (3).
constexpr uint32_t kUnstuffedTailBits = 1 + 1 + 1 + 7 + 3;

// The stuffing after some bits of SOF to CRC: stuffed length so far, the last bit on the wire
// and the length of its run (0 before the first bit). A complementary bit follows every run
// of five equal bits.
struct StuffState {
    uint32_t length = 0;
    uint32_t last = 0;
    uint32_t run = 0;

    constexpr void Count(uint32_t bit) {
        run = (run > 0 && bit == last) ? run + 1 : 1;
        last = bit;
        ++length;
        if (run == kStuffRun) {
            ++length;
            last = bit ^ 1u;
            run = 1;
        }
    }
};

// What eight more bits do to a stuffing state, by the state before (last bit and run 1..4)
// and the byte: the frame's data bytes are counted a byte at a time.
struct ByteStuffing {
    uint8_t stuffBits = 0;
    uint8_t last = 0;
    uint8_t run = 0;
};

struct ByteStuffingTable {
    ByteStuffing entry[2][kStuffRun][256];

    constexpr ByteStuffingTable() : entry() {
        for (uint32_t last = 0; last < 2; ++last) {
            for (uint32_t run = 1; run < kStuffRun; ++run) {
                for (uint32_t byte = 0; byte < 256; ++byte) {
                    StuffState state{0, last, run};
                    for (int i = 7; i >= 0; --i) state.Count((byte >> i) & 1u);
                    entry[last][run][byte] = {uint8_t(state.length - 8), uint8_t(state.last),
                                              uint8_t(state.run)};
                }
            }
        }
    }
};

// CRC-15 of CAN a byte at a time: the register after eight zero bits from each top byte.
struct Crc15Table {
    uint16_t entry[256];

    constexpr Crc15Table() : entry() {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            uint32_t crc = byte << 7;
            for (int i = 0; i < 8; ++i) {
                crc = ((crc << 1) ^ ((crc & 0x4000u) != 0 ? kCrc15Polynomial : 0u)) & 0x7FFFu;
            }
            entry[byte] = uint16_t(crc);
        }
    }
};

constexpr ByteStuffingTable kByteStuffing;
constexpr Crc15Table kCrc15;

// Counts the stuffed bits of SOF to CRC as the bits are put, most significant first; the CRC
// follows the unstuffed bits and is stuffed too.
class StuffedBitCounter {
  public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            const uint32_t bit = (value >> i) & 1u;
            const uint32_t feedback = bit ^ ((crc_ >> 14) & 1u);
            crc_ = ((crc_ << 1) & 0x7FFFu) ^ (feedback != 0 ? kCrc15Polynomial : 0u);
            state_.Count(bit);
        }
    }
    // After at least one bit.
    void PutByte(uint8_t byte) {
        crc_ = ((crc_ << 8) ^ kCrc15.entry[((crc_ >> 7) ^ byte) & 0xFFu]) & 0x7FFFu;
        const ByteStuffing& step = kByteStuffing.entry[state_.last][state_.run][byte];
        state_.length += 8u + step.stuffBits;
        state_.last = step.last;
        state_.run = step.run;
    }
    // Appends the CRC and gives the stuffed length.
    uint32_t Finish() {
        const uint32_t crc = crc_;
        for (int i = 14; i >= 0; --i) state_.Count((crc >> i) & 1u);
        return state_.length;
    }

  private:
    uint32_t crc_ = 0;
    StuffState state_;
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
    StuffedBitCounter bits;
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
    for (uint8_t i = 0; i < dlc; ++i) bits.PutByte(frame.data[i]);
    return bits.Finish() + kUnstuffedTailBits;
}

void VirtualCanBus::SetWireTimeModel(bool on) {
    std::lock_guard lock(mutex_);
    wireTime_ = on;
}

// A sender whose frames reach further ahead than a full transmit queue sleeps (outside the
// bus lock) until half of that queue is on the wire; a late wake-up leaves no gap as long as
// frames remain queued.
VirtualCanBus::Slot VirtualCanBus::PlaceOnWire(const CanFrame& frame, uint32_t bitRate) {
    if (!wireTime_ || bitRate == 0) return {};
    using namespace std::chrono;
    const auto duration = nanoseconds(uint64_t{FrameBits(frame)} * 1000000000u / bitRate);
    const TimePoint now = steady_clock::now();
    const TimePoint start = std::max(freeAt_, now);
    freeAt_ = start + duration;
    Slot slot{freeAt_, TimePoint{}};
    if (freeAt_ - now > duration * kTransmitQueueFrames) {
        slot.holdUntil = freeAt_ - duration * (kTransmitQueueFrames / 2);
    }
    return slot;
}

void VirtualCanBus::Send(const CanFrame& frame, uint32_t bitRate, const void* sender) {
    std::unique_lock lock(mutex_);
    const Slot slot = PlaceOnWire(frame, bitRate);
    CaptureFrame(frame);
    for (XlPort* port : ports_) {
        if (port != sender && port->BitRate() == bitRate)
            port->DeliverFromWire(frame, slot.arrival);
    }
    // Index loop: an observer may add or remove observers while it runs.
    for (size_t i = 0; i < observers_.size(); ++i) {
        if (observers_[i] != sender) observers_[i]->OnFrame(*this, frame, bitRate);
    }
    lock.unlock();
    if (slot.holdUntil != TimePoint{}) std::this_thread::sleep_until(slot.holdUntil);
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
