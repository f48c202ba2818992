// ISO-TP reception fed with arbitrary CAN frames, without threads: a scripted driver table
// hands the input's frames to the channel one by one and reports an empty queue at once, and
// the manual clock makes every wait free. A received message never exceeds the buffer it is
// given, and every result is a length or one of the channel's codes.
#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "can/CIsoTp.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Clock.h"

namespace {

using namespace diagbridge;
using namespace diagbridge::xl;
using diagbridge::fuzz::Require;

constexpr XLportHandle kPort = 1;
constexpr std::size_t kFrameInputBytes = 10;  // control, identifier choice, 8 data bytes
constexpr uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;
constexpr int32_t kMaxRequestLength = 300;

std::deque<XLevent>& Queue() {
    static std::deque<XLevent> queue;
    return queue;
}

XLstatus Ok() {
    return kSuccess;
}
XLstatus OkPort(XLportHandle) {
    return kSuccess;
}
XLstatus OpenPort(XLportHandle* port, char*, XLaccess, XLaccess* permission, uint32_t, uint32_t,
                  uint32_t) {
    *port = kPort;
    *permission = 1;
    return kSuccess;
}
XLstatus Activate(XLportHandle, XLaccess, uint32_t, uint32_t) {
    return kSuccess;
}
XLstatus Deactivate(XLportHandle, XLaccess) {
    return kSuccess;
}
XLstatus Receive(XLportHandle, uint32_t* count, XLevent* events) {
    if (Queue().empty()) {
        *count = 0;
        return kErrQueueIsEmpty;
    }
    events[0] = Queue().front();
    Queue().pop_front();
    *count = 1;
    return kSuccess;
}
XLstatus Mode(XLportHandle, XLaccess, int, int) {
    return kSuccess;
}
XLstatus Params(XLportHandle, XLaccess, XLchipParams*) {
    return kSuccess;
}
XLstatus Output(XLportHandle, XLaccess, int) {
    return kSuccess;
}
XLstatus Acceptance(XLportHandle, XLaccess, uint32_t, uint32_t, uint32_t) {
    return kSuccess;
}
XLstatus Transmit(XLportHandle, XLaccess, uint32_t*, void*) {
    return kSuccess;
}
bool NoWait(XLportHandle, uint32_t) {
    return !Queue().empty();
}

std::shared_ptr<XlSource> ScriptedSource() {
    auto source = std::make_shared<XlSource>();
    source->selector = "fuzz";
    source->table = {&Ok,      &Ok,   &OpenPort, &OkPort, &Activate,   &Deactivate, &OkPort,
                     &Receive, &Mode, &Params,   &Output, &Acceptance, &Transmit};
    source->waitForEvent = &NoWait;
    return source;
}

// Frames of the input: the control byte's low nibble is the length code (up to 15, as a bad
// driver may report), bit 4 a foreign identifier, bit 5 an error frame.
void QueueFrames(const uint8_t* data, std::size_t size, uint32_t receiveId) {
    Queue().clear();
    for (std::size_t at = 0; at + kFrameInputBytes <= size; at += kFrameInputBytes) {
        XLevent event{};
        event.tag = kTagReceiveMsg;
        event.tagData.msg.id = (data[at] & 0x10) != 0 ? receiveId ^ data[at + 1] : receiveId;
        event.tagData.msg.flags = (data[at] & 0x20) != 0 ? kMsgFlagErrorFrame : 0;
        event.tagData.msg.dlc = data[at] & 0x0F;
        std::memcpy(event.tagData.msg.data, data + at + 2, kMaxDataLength);
        Queue().push_back(event);
    }
}

bool KnownResult(int32_t result) {
    return result >= 1 || result == CIsoTp::kErrCommunication || result == CIsoTp::kErrTimedOut ||
           result == CIsoTp::kErrAbandoned || result == CIsoTp::kErrBadParameter;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    static platform::ManualClock clock;
    static platform::ScopedClock scoped(clock);
    CIsoTp channel(ScriptedSource());
    IsoTpOptions options;
    options.frameTimeoutMs = 50;
    options.pendingTimeoutMs = 100;
    options.pendingTotalMs = 1000;
    options.maxFlowControlWaits = 4;
    channel.SetOptions(options);
    if (channel.Open(500, 0x10, 0xF1, CIsoTp::kKeepAliveNone) != 1) __builtin_trap();
    QueueFrames(data + 3, size - 3, channel.ReceiveId());

    // Bit 0 of the first byte: send a request first, so that flow controls are read too.
    if ((data[0] & 1) != 0) {
        // Up to 300 bytes: past the sequence number wrap, while sub-millisecond STmin values
        // (real sleeps) stay cheap.
        const int32_t length = 1 + ((data[1] << 4 | data[2]) % kMaxRequestLength);
        std::vector<uint8_t> request(static_cast<std::size_t>(length), 0x36);
        const int32_t sent = channel.TransmitMessage(request.data(), length);
        Require(sent == 1 || KnownResult(sent));
    }
    const std::size_t capacity = (data[0] & 2) != 0 ? data[1] % 64 : CIsoTp::kMaxMessageLength;
    std::vector<uint8_t> buffer(capacity + kGuardBytes, kGuard);
    // Reads until the frames are used up; a call that takes no frame ends the loop.
    for (std::size_t left = Queue().size(); left > 0; left = Queue().size()) {
        const int32_t received = channel.ReceiveMessage(buffer.data(), capacity);
        Require(KnownResult(received));
        Require(received < 1 || static_cast<std::size_t>(received) <= capacity);
        Require(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(capacity), buffer.end(),
                            [](uint8_t b) { return b == kGuard; }));
        if (Queue().size() == left) break;
    }
    channel.Close();
    return 0;
}
