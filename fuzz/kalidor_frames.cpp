// Kalidor controller bytes on a scripted line with the manual clock: a frame the controller
// sends by itself is taken only whole (header, one of the two length rules) and exactly as
// it came, within the capacity and the two-second window; a command's answer never reaches
// past the capacity given; the wake-up is bounded; the length rules read no byte past the
// length they are given.
#include <algorithm>
#include <memory>
#include <vector>

#include "devices/CKalidor.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Clock.h"
#include "tests/t40kalidor/ScriptedLine.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::Require;
using testfakes::Bytes;

constexpr uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;
constexpr uint32_t kLongestFrame = CKalidor::kHeaderLength + CKalidor::kMaxFrameBody;
// The window, the last read's time-out and the settling pause after a header.
constexpr uint32_t kReceiveBoundMs =
    CKalidor::kFrameWindowMs + CKalidor::kPortTimeoutMs + CKalidor::kFrameSettleMs;
constexpr uint32_t kWakeUpBoundMs = 5000;

struct Line {
    platform::ManualClock clock{1000};
    testfakes::ScriptedLine line;
    platform::ScopedClock scopedClock{clock};
    platform::ScopedSerialPortFactory factory{
        [this] { return std::make_unique<testfakes::ScriptedPort>(line); }};
    Line() { line.clock = &clock; }
};

uint32_t Capacity(uint8_t selector) {
    return selector == 0 ? CKalidor::kReplyCapacity : selector;
}

bool GuardIntact(const Bytes& buffer, std::size_t capacity) {
    return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(capacity), buffer.end(),
                       [](uint8_t b) { return b == kGuard; });
}

// The length rules on a copy of exactly length bytes, so that a read past it is caught.
void CheckLengthRules(const uint8_t* data, std::size_t size) {
    const Bytes frame(data, data + std::min<std::size_t>(size, kLongestFrame));
    const auto at = [&frame](std::size_t i) { return static_cast<uint32_t>(frame[i]); };
    const std::size_t t = frame.size();
    const bool ruleTwo = t > 12 && t == 2 * at(12) + 13;
    const bool ruleOne = t > 11 && 12 + at(11) < t && t == at(11) + 2 * at(12 + at(11)) + 13;
    Require(CKalidor::FrameComplete(frame.data(), static_cast<uint32_t>(t)) ==
            (ruleOne || ruleTwo));
}

void CheckReceiveFrame(uint8_t selector, const uint8_t* data, std::size_t size) {
    Line line;
    CKalidor device(4, 0, 0);
    const Bytes arrived(data, data + size);
    line.line.Arrive(arrived);
    const uint32_t capacity = Capacity(selector);
    Bytes buffer(capacity + kGuardBytes, kGuard);
    const uint32_t start = line.clock.TickMs();
    const int32_t got = device.ReceiveFrame(buffer.data(), capacity);
    Require(line.clock.TickMs() - start <= kReceiveBoundMs);
    Require(got >= 0 && static_cast<uint32_t>(got) <= std::min(capacity, kLongestFrame));
    Require(GuardIntact(buffer, capacity));
    if (got == 0) {
        Require(device.GetLastError() == CD5Device::kOk ||
                device.GetLastError() == CD5Device::kNoAnswer);
        return;
    }
    Require(device.GetLastError() == CD5Device::kOk);
    Require(std::equal(CKalidor::kFrameHeader, CKalidor::kFrameHeader + CKalidor::kHeaderLength,
                       buffer.begin()));
    Require(CKalidor::FrameComplete(buffer.data(), static_cast<uint32_t>(got)));
    // Everything that waited after the header is the frame: it is the input's tail.
    Require(static_cast<std::size_t>(got) <= size &&
            std::equal(buffer.begin(), buffer.begin() + got, arrived.end() - got));
}

void CheckCommand(uint8_t selector, const uint8_t* data, std::size_t size) {
    Line line;
    CKalidor device(4, 0, 0);
    const Bytes reply(data, data + size);
    line.line.Queue(reply);
    const uint32_t capacity = Capacity(selector);
    Bytes buffer(capacity + kGuardBytes, kGuard);
    const uint8_t command[] = {0x02, 0x11};
    const int32_t got = device.SendCommand(command, sizeof(command), buffer.data(), capacity);
    const std::size_t read = std::min<std::size_t>(size, CKalidor::kReplyCapacity);
    const std::size_t payload = read <= 4 ? 0 : std::min<std::size_t>(read - 4, capacity);
    Require(got >= 0 && static_cast<std::size_t>(got) == payload);
    Require(got == 0 || std::equal(buffer.begin(), buffer.begin() + got, reply.begin() + 3));
    Require(GuardIntact(buffer, capacity));
}

void CheckWakeUp(const uint8_t* data, std::size_t size) {
    Line line;
    // Replies: each a length byte and that many bytes, one per write.
    for (std::size_t i = 0; i < size;) {
        const std::size_t length = std::min<std::size_t>(data[i], size - i - 1);
        line.line.Queue(Bytes(data + i + 1, data + i + 1 + length));
        i += 1 + length;
    }
    CKalidor device(4, 0, 0);
    const uint32_t start = line.clock.TickMs();
    const int32_t awake = device.WakeUp();
    Require(awake == 0 || awake == 1);
    Require(line.clock.TickMs() - start <= kWakeUpBoundMs);
}

void CheckIdent(const uint8_t* data, std::size_t size) {
    CKalidor device(-1, 0, 0);
    device.SetIdentBytes(Bytes(data, data + size));
    Bytes bytes;
    Require(device.GetIdent(nullptr, &bytes) == 1);
    Require(bytes.size() == size + 2 && ((bytes[0] << 8) | bytes[1]) == static_cast<int>(size));
    Require(std::equal(data, data + size, bytes.begin() + 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Byte 0 picks the reader, byte 1 the capacity (0: a whole reply buffer).
    const uint8_t selector = data[1];
    CheckLengthRules(data + 2, size - 2);
    switch (data[0] % 4) {
        case 0:
            CheckReceiveFrame(selector, data + 2, size - 2);
            break;
        case 1:
            CheckCommand(selector, data + 2, size - 2);
            break;
        case 2:
            CheckWakeUp(data + 2, size - 2);
            break;
        default:
            CheckIdent(data + 2, size - 2);
            break;
    }
    return 0;
}
