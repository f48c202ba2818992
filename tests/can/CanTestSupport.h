#pragma once
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "can/CIsoTp.h"
#include "drivers/xl/VirtualCanBus.h"
#include "drivers/xl/XlSource.h"
#include "platform/Clock.h"

namespace diagbridge::cantest {

constexpr uint32_t kExt = 0x80000000u;
constexpr uint32_t kRequestId = 0x18DA33F1u | kExt;     // ECU 0x33 <- tester 0xF1
constexpr uint32_t kResponseId = 0x18DAF133u | kExt;    // tester 0xF1 <- ECU 0x33
constexpr uint32_t kFunctionalId = 0x18DBFFF1u | kExt;  // all ECUs <- tester 0xF1
constexpr uint8_t kEcu = 0x33;
constexpr uint8_t kTester = 0xF1;

// One frame of a script: identifier and data bytes (the length is the byte count).
struct Frame {
    uint32_t id = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Frame& other) const { return id == other.id && bytes == other.bytes; }
};

inline std::ostream& operator<<(std::ostream& out, const Frame& frame) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08X:", frame.id);
    out << text;
    for (uint8_t byte : frame.bytes) {
        std::snprintf(text, sizeof(text), " %02X", byte);
        out << text;
    }
    return out;
}

inline xl::CanFrame ToCan(const Frame& frame) {
    xl::CanFrame can;
    can.id = frame.id;
    can.dlc = static_cast<uint8_t>(frame.bytes.size());
    std::memcpy(can.data, frame.bytes.data(), std::min<size_t>(frame.bytes.size(), 8));
    return can;
}

inline Frame FromCan(const xl::CanFrame& can) {
    return {can.id, std::vector<uint8_t>(can.data, can.data + std::min<uint8_t>(can.dlc, 8))};
}

// A bus name of its own for every test, so tests never hear each other.
inline std::string UniqueBusName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    static int serial = 0;
    return std::string(info->test_suite_name()) + "." + info->name() + "#" +
           std::to_string(++serial);
}

// A scripted ECU on a virtual bus: for each frame the tester sends it checks the next expected
// frame and answers with the step's replies, at once and on the sender's thread. It logs every
// frame on the bus with the clock tick, tester frames and its own replies alike.
class ScriptedEcu : public xl::VirtualBusObserver {
  public:
    struct Step {
        Frame expect;
        std::vector<Frame> reply;
    };
    struct Logged {
        Frame frame;
        uint32_t tick;
    };

    ScriptedEcu(std::shared_ptr<xl::VirtualCanBus> bus, uint32_t bitRate,
                std::vector<Step> script = {})
        : bus_(std::move(bus)), bitRate_(bitRate), script_(std::move(script)) {
        bus_->AddObserver(this);
    }
    ~ScriptedEcu() override { bus_->RemoveObserver(this); }

    void OnFrame(xl::VirtualCanBus&, const xl::CanFrame& can, uint32_t) override {
        const Frame frame = FromCan(can);
        std::vector<Frame> replies;
        {
            std::lock_guard lock(mutex_);
            log_.push_back({frame, platform::Clock().TickMs()});
            if (next_ < script_.size() && script_[next_].expect == frame) {
                replies = script_[next_++].reply;
            } else if (frame.id == kRequestId || frame.id == kFunctionalId) {
                unexpected_.push_back(frame);
            }
        }
        changed_.notify_all();
        for (const Frame& reply : replies) Send(reply);
    }

    // Sends frame from the ECU (also from another thread) and logs it.
    void Send(const Frame& frame) {
        {
            std::lock_guard lock(mutex_);
            log_.push_back({frame, platform::Clock().TickMs()});
        }
        bus_->Send(ToCan(frame), bitRate_, this);
    }

    std::vector<Frame> Frames() const {
        std::lock_guard lock(mutex_);
        std::vector<Frame> frames;
        for (const Logged& entry : log_) frames.push_back(entry.frame);
        return frames;
    }
    std::vector<Logged> Log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    std::vector<Frame> Unexpected() const {
        std::lock_guard lock(mutex_);
        return unexpected_;
    }
    bool ScriptDone() const {
        std::lock_guard lock(mutex_);
        return next_ == script_.size();
    }
    // Waits (real time, generous) until count frames matching the predicate were logged.
    template <typename Predicate>
    bool WaitForFrames(size_t count, Predicate predicate, int timeoutMs = 10000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            size_t seen = 0;
            for (const Logged& entry : log_) seen += predicate(entry.frame) ? 1 : 0;
            return seen >= count;
        });
    }

    // The whole conversation the script describes, in order.
    static std::vector<Frame> Conversation(const std::vector<Step>& script) {
        std::vector<Frame> frames;
        for (const Step& step : script) {
            frames.push_back(step.expect);
            frames.insert(frames.end(), step.reply.begin(), step.reply.end());
        }
        return frames;
    }

  private:
    std::shared_ptr<xl::VirtualCanBus> bus_;
    const uint32_t bitRate_;
    std::vector<Step> script_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Logged> log_;
    std::vector<Frame> unexpected_;
    size_t next_ = 0;
};

// An XL source whose table records every call (except xlReceive, which it counts) and then
// forwards to an inner source. Events put into Inject come out of xlReceive first.
class RecordingXl {
  public:
    explicit RecordingXl(std::shared_ptr<xl::XlSource> inner);
    ~RecordingXl();

    std::shared_ptr<xl::XlSource> Source() const { return source_; }
    std::vector<std::string> Calls() const;
    void ClearCalls();
    size_t ReceiveCalls() const;
    void Inject(const xl::XLevent& event);
    void FailOpenPort(bool fail);
    // xlCanSetChannelParams refuses this bit rate (0: none), as an adapter that cannot run it.
    void RefuseBitRate(uint32_t bitRate);

  private:
    std::shared_ptr<xl::XlSource> source_;
};

// A channel on a fresh virtual bus at rateKbit with a scripted ECU; opened by Open().
struct VirtualChannel {
    explicit VirtualChannel(uint32_t bitRate = 500000)
        : busName(UniqueBusName()),
          bus(xl::VirtualCanBus::Named(busName)),
          channel(LoadVirtual(busName)),
          ecu(bus, bitRate) {}

    static std::shared_ptr<xl::XlSource> LoadVirtual(const std::string& name) {
        std::string failure;
        return xl::LoadXlSource("virtual:" + name, failure);
    }

    std::string busName;
    std::shared_ptr<xl::VirtualCanBus> bus;
    CIsoTp channel;
    ScriptedEcu ecu;
};

}  // namespace diagbridge::cantest
