// Kalidor controller bytes on a scripted line with the manual clock: a frame the controller
// sends by itself is taken only whole (header, one of the two length rules) and exactly as
// it came, within the capacity and the two-second window; a command's answer never reaches
// past the capacity given; the wake-up is bounded; the length rules read no byte past the
// length they are given.
#include <algorithm>
#include <vector>

#include "devices/CDCKalidorCom.h"
#include "devices/CKalidor.h"
#include "engine/CConvert.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzSerialLine.h"

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

CDCKalidorCom Container(int32_t mode) {
    EcuParameterBlock configuration;
    configuration.word2 = mode;
    InterfaceSettings settings;
    settings.rs232Port = 4;
    return CDCKalidorCom(configuration, settings);
}

// The frame as the client gets it: "XX " per byte, the frame the device takes.
void CheckFrameText(const Bytes& arrived) {
    fuzz::SerialLine line;
    line.line.Arrive(arrived);
    CDCKalidorCom container = Container(CDCKalidorCom::kModeFreeRun);
    std::string out = "kept";
    const int32_t result = container.DevReceiveData(out);
    Require(result == 0 || result == CDCKalidorCom::kNoDevice);
    if (result != 0) {
        Require(out == "kept");
        return;
    }
    const std::size_t count = (out.size() - 4) / 3;
    Require(out.size() == 4 + 3 * count && count <= arrived.size());
    Bytes frame(count);
    std::size_t stored = 0;
    Require(HexStringToBytes(out.substr(4), frame.data(), frame.size(), stored) ==
                static_cast<int32_t>(count) &&
            stored == count);
    Require(CKalidor::FrameComplete(frame.data(), static_cast<uint32_t>(count)));
    Require(
        std::equal(frame.begin(), frame.end(), arrived.end() - static_cast<std::ptrdiff_t>(count)));
}

void CheckReceiveFrame(uint8_t selector, const uint8_t* data, std::size_t size) {
    fuzz::SerialLine line;
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
    fuzz::SerialLine line;
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

// The answer as the client gets it: the payload as a hex byte string, its count the result.
void CheckAnswerText(const Bytes& reply) {
    fuzz::SerialLine line;
    line.line.Queue(reply);
    CDCKalidorCom container = Container(CDCKalidorCom::kModeQuick);
    std::string response = "stale";
    const int32_t result = container.DevTransferData("02 11", response);
    const std::size_t read = std::min<std::size_t>(reply.size(), CKalidor::kReplyCapacity);
    const std::size_t payload = read <= 4 ? 0 : read - 4;
    Require(result == static_cast<int32_t>(payload));
    Require(response ==
            (payload == 0 ? std::string() : BytesToHexString(reply.data() + 3, payload)));
}

void CheckWakeUp(const uint8_t* data, std::size_t size) {
    fuzz::SerialLine line;
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
            CheckFrameText(Bytes(data + 2, data + size));
            break;
        case 1:
            CheckCommand(selector, data + 2, size - 2);
            CheckAnswerText(Bytes(data + 2, data + size));
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
