#include "KLineScript.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <memory>

#include "devices/CDCOrlanComKwp2000.h"
#include "devices/CT60.h"
#include "ecu/EcuParameterBlock.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace diagbridge::linetest {

namespace {

constexpr int32_t kPort = 5;
constexpr uint8_t kEcuAddress = 0x18;
constexpr uint8_t kTesterAddress = 0xFA;
constexpr uint32_t kResponseCapacity = 300;

// Bytes as a hex byte string: two upper-case digits each, one blank between.
std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (uint8_t value : bytes) {
        std::snprintf(byte, sizeof(byte), text.empty() ? "%02X" : " %02X", value);
        text += byte;
    }
    return text;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (uint8_t value : bytes) {
        std::snprintf(byte, sizeof(byte), " %02X", value);
        text += byte;
    }
    return text.empty() ? " (none)" : text;
}

const char* Name(LineActor actor) {
    switch (actor) {
        case LineActor::kTesterLow:
            return "line low";
        case LineActor::kTesterHigh:
            return "line high";
        case LineActor::kTesterWrite:
            return "write";
        case LineActor::kEcuBytes:
            return "ECU bytes";
        case LineActor::kReturn:
            return "return";
    }
    return "?";
}

std::string Describe(LineActor actor, const std::vector<uint8_t>& bytes) {
    const bool carriesBytes = actor == LineActor::kTesterWrite || actor == LineActor::kEcuBytes;
    return std::string(Name(actor)) + (carriesBytes ? Hex(bytes) : "");
}

// The line as the script has it: the steps of all calls in one row (numbered from 1), the
// tick of the start (ticks[0]) and of every step that happened, the bytes on their way to the
// tester and the line level the tester drives.
class LinePlayer {
  public:
    LinePlayer(const KLineScript& script, platform::ManualClock& clock)
        : clock_(clock), echo_(script.wired) {
        for (const LineCall& call : script.calls) {
            steps_.insert(steps_.end(), call.steps.begin(), call.steps.end());
        }
        ticks_.push_back(clock.TickMs());
    }

    void Start() { ScheduleEcuBytes(); }

    void OnBreak(bool on) {
        if (on == low_) return;  // no edge
        low_ = on;
        OnTester(on ? LineActor::kTesterLow : LineActor::kTesterHigh, {});
    }

    void OnWrite(const uint8_t* data, size_t count) {
        const std::vector<uint8_t> bytes(data, data + count);
        if (echo_) Deliver(bytes, clock_.TickMs());
        OnTester(LineActor::kTesterWrite, bytes);
    }

    void OnReturn(size_t call) {
        if (derailed_) return;
        if (next_ >= steps_.size() || steps_[next_].actor != LineActor::kReturn) {
            const std::string what =
                next_ < steps_.size() ? StepName(next_) + " never came" : "the script had ended";
            Derail("call " + std::to_string(call + 1) + " returned early: " + what);
            return;
        }
        Take();
    }

    // Waits up to timeoutMs of the clock for count bytes.
    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
        const uint32_t deadline = clock_.TickMs() + timeoutMs;
        size_t got = 0;
        for (;;) {
            while (got < count && !queue_.empty() && Due(queue_.front())) {
                buffer[got++] = queue_.front().byte;
                queue_.pop_front();
            }
            if (got == count) return got;
            const uint32_t now = clock_.TickMs();
            if (queue_.empty() || queue_.front().at > deadline) {
                if (deadline > now) clock_.Advance(deadline - now);
                return got;
            }
            clock_.Advance(queue_.front().at - now);
        }
    }

    uint32_t Queued() const {
        return static_cast<uint32_t>(
            std::count_if(queue_.begin(), queue_.end(), [this](const Byte& b) { return Due(b); }));
    }

    // Throws away what has arrived; bytes still on their way stay.
    void Discard() {
        queue_.erase(
            std::remove_if(queue_.begin(), queue_.end(), [this](const Byte& b) { return Due(b); }),
            queue_.end());
    }

    std::vector<std::string> Finish() {
        if (!derailed_ && next_ < steps_.size()) Fault(StepName(next_) + " never came");
        return faults_;
    }

    void Fault(const std::string& text) { faults_.push_back(text); }

  private:
    struct Byte {
        uint8_t byte = 0;
        uint32_t at = 0;
    };

    static std::string StepName(size_t index) { return "step " + std::to_string(index + 1); }

    bool Due(const Byte& byte) const { return byte.at <= clock_.TickMs(); }

    // Puts bytes on their way to the tester at tick at, after what comes earlier.
    void Deliver(const std::vector<uint8_t>& bytes, uint32_t at) {
        auto position = std::find_if(queue_.begin(), queue_.end(),
                                     [at](const Byte& queued) { return queued.at > at; });
        for (uint8_t value : bytes) position = std::next(queue_.insert(position, {value, at}));
    }

    void OnTester(LineActor actor, const std::vector<uint8_t>& bytes) {
        if (derailed_) return;
        const std::string what = Describe(actor, bytes);
        if (next_ >= steps_.size() || steps_[next_].actor != actor ||
            steps_[next_].bytes != bytes) {
            const std::string expected = next_ < steps_.size()
                                             ? Describe(steps_[next_].actor, steps_[next_].bytes)
                                             : "nothing";
            Derail(StepName(next_) + ": tester did " + what + ", script has " + expected);
            return;
        }
        Take();
    }

    void Take() {
        ticks_.push_back(clock_.TickMs());
        const size_t number = next_++ + 1;
        const TimingWindow& window = steps_[number - 1].window;
        if (window.back == 0 || window.back > number) {
            Fault("step " + std::to_string(number) + " has no step to be timed from");
        } else {
            const std::string fault =
                testing::WindowFault(number, window, ticks_[number] - ticks_[number - window.back]);
            if (!fault.empty()) Fault(fault);
        }
        ScheduleEcuBytes();
    }

    void ScheduleEcuBytes() {
        while (next_ < steps_.size() && steps_[next_].actor == LineActor::kEcuBytes) {
            const uint32_t at = ticks_.back() + steps_[next_].window.minMs;
            ticks_.push_back(at);
            Deliver(steps_[next_].bytes, at);
            ++next_;
        }
    }

    void Derail(const std::string& text) {
        Fault(text);
        derailed_ = true;
        queue_.clear();
    }

    platform::ManualClock& clock_;
    const bool echo_;
    std::vector<LineStep> steps_;
    std::vector<uint32_t> ticks_;
    size_t next_ = 0;
    std::deque<Byte> queue_;
    std::vector<std::string> faults_;
    bool low_ = false;
    bool derailed_ = false;
};

class ScriptedLinePort final : public platform::ISerialPort {
  public:
    explicit ScriptedLinePort(LinePlayer& player) : player_(player) {}

    uint32_t Open(const std::string&) override {
        open_ = true;
        return 0;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    bool SetLine(const platform::LineSettings&) override { return open_; }
    size_t Write(const uint8_t* data, size_t count, uint32_t) override {
        player_.OnWrite(data, count);
        return count;
    }
    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        return player_.Read(buffer, count, timeoutMs);
    }
    uint32_t QueuedBytes(bool receive) override { return receive ? player_.Queued() : 0; }
    void Discard(bool receive, bool) override {
        if (receive) player_.Discard();
    }
    void SetBreak(bool on) override { player_.OnBreak(on); }
    void ClearErrors() override {}

  private:
    LinePlayer& player_;
    bool open_ = false;
};

void CheckOutcome(LinePlayer& player, size_t index, const LineCall& call, int32_t result,
                  const std::vector<uint8_t>& response, int32_t lastError) {
    const std::string label = "call " + std::to_string(index + 1) + ": ";
    if (result != call.result) {
        player.Fault(label + "result " + std::to_string(result) + ", script has " +
                     std::to_string(call.result));
    }
    if (response != call.response) {
        player.Fault(label + "response" + Hex(response) + ", script has" + Hex(call.response));
    }
    if (lastError != call.lastError) {
        player.Fault(label + "LastError " + std::to_string(lastError) + ", script has " +
                     std::to_string(call.lastError));
    }
}

// A response text as bytes (the container writes what HexText writes).
std::vector<uint8_t> FromHexText(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at + 1 < text.size(); at += 3) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16)));
    }
    return bytes;
}

// The device inside its container, on the scripted line.
class Tester {
  public:
    explicit Tester(const KLineScript& script)
        : container_(Configuration(), Settings(script), nullptr, [this] {
              auto device = std::make_unique<CT60>(0, 0, 0);
              device_ = device.get();
              return device;
          }) {
        container_.isSkyLink = script.wired ? 0 : 1;
    }

    bool Open(uint32_t p3MinMs) {
        if (!container_.Create() || container_.DevOpen() != 0 || device_ == nullptr) return false;
        if (p3MinMs != 0) device_->SetInterRequestTime(p3MinMs);
        return true;
    }

    void Run(LinePlayer& player, size_t index, const LineCall& call) {
        std::string text;
        int32_t result = 0;
        std::vector<uint8_t> response;
        switch (call.operation) {
            case LineOperation::kConnect:
                result = device_->Connect();
                break;
            case LineOperation::kStopCommunication:
                device_->StopCommunication();
                break;
            case LineOperation::kSendCommand:
                result = Send(call.request, response);
                break;
            case LineOperation::kTransfer:
                result = container_.DevTransferData(HexText(call.request), text);
                response = FromHexText(text);
                break;
        }
        player.OnReturn(index);
        CheckOutcome(player, index, call, result, response, device_->GetLastError());
    }

    void Close() { container_.DevClose(); }

  private:
    static EcuParameterBlock Configuration() {
        EcuParameterBlock configuration;
        configuration.kwp.testerAddress = kTesterAddress;
        configuration.kwp.ecuAddress = kEcuAddress;
        return configuration;
    }
    static InterfaceSettings Settings(const KLineScript& script) {
        InterfaceSettings settings;
        settings.rs232Port = kPort;
        settings.skyLinkPort = kPort;
        settings.rs232TimeoutMs = script.timeoutMs;
        settings.skyLinkTimeoutMs = script.timeoutMs;
        return settings;
    }
    int32_t Send(const std::vector<uint8_t>& request, std::vector<uint8_t>& response) {
        std::array<uint8_t, kResponseCapacity> buffer{};
        const int32_t result =
            device_->SendCommand(request.data(), static_cast<uint32_t>(request.size()),
                                 buffer.data(), kResponseCapacity);
        const auto count = static_cast<size_t>(std::clamp<int32_t>(result, 0, kResponseCapacity));
        response.assign(buffer.begin(), buffer.begin() + count);
        return result;
    }

    CT60* device_ = nullptr;
    CDCOrlanComKwp2000 container_;
};

}  // namespace

LineStep Low(TimingWindow window) {
    return {LineActor::kTesterLow, {}, window};
}

LineStep High(TimingWindow window) {
    return {LineActor::kTesterHigh, {}, window};
}

LineStep Writes(std::vector<uint8_t> bytes, TimingWindow window) {
    return {LineActor::kTesterWrite, std::move(bytes), window};
}

LineStep EcuSends(uint32_t ms, std::vector<uint8_t> bytes) {
    return {LineActor::kEcuBytes, std::move(bytes), testing::After(ms)};
}

LineStep Returns(TimingWindow window) {
    return {LineActor::kReturn, {}, window};
}

std::vector<std::string> PlayKLineScript(const KLineScript& script) {
    platform::ManualClock clock(20000);
    platform::ScopedClock scopedClock(clock);
    LinePlayer player(script, clock);
    platform::ScopedSerialPortFactory factory(
        [&player] { return std::make_unique<ScriptedLinePort>(player); });
    Tester tester(script);
    if (!tester.Open(script.p3MinMs)) return {"device not open"};
    player.Start();
    for (size_t index = 0; index < script.calls.size(); ++index) {
        tester.Run(player, index, script.calls[index]);
    }
    tester.Close();
    return player.Finish();
}

}  // namespace diagbridge::linetest
