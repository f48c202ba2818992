#include <cstdarg>
#include <cstdio>

#include "CanTestSupport.h"

namespace diagbridge::cantest {

namespace {

using namespace xl;

struct Recording {
    std::mutex mutex;
    XlDriverTable inner{};
    std::vector<std::string> calls;
    std::deque<XLevent> injected;
    size_t receiveCalls = 0;
    bool failOpenPort = false;
    uint32_t refusedBitRate = 0;
};

Recording& State() {
    static Recording recording;
    return recording;
}

__attribute__((format(printf, 1, 2))) void Record(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::lock_guard lock(State().mutex);
    State().calls.emplace_back(text);
}

XLstatus OpenDriver() {
    Record("openDriver");
    return State().inner.openDriver();
}
XLstatus CloseDriver() {
    Record("closeDriver");
    return State().inner.closeDriver();
}
XLstatus OpenPort(XLportHandle* port, char* name, XLaccess mask, XLaccess* permission,
                  uint32_t queue, uint32_t version, uint32_t bus) {
    Record("openPort %s mask=%u permission=%u queue=%u version=%u bus=%u", name,
           static_cast<unsigned>(mask), static_cast<unsigned>(*permission), queue, version, bus);
    if (State().failOpenPort) return kErrCannotOpenDriver;
    return State().inner.openPort(port, name, mask, permission, queue, version, bus);
}
XLstatus ClosePort(XLportHandle port) {
    Record("closePort");
    return State().inner.closePort(port);
}
XLstatus Activate(XLportHandle port, XLaccess mask, uint32_t bus, uint32_t flags) {
    Record("activate bus=%u flags=%u", bus, flags);
    return State().inner.activateChannel(port, mask, bus, flags);
}
XLstatus Deactivate(XLportHandle port, XLaccess mask) {
    Record("deactivate");
    return State().inner.deactivateChannel(port, mask);
}
XLstatus Flush(XLportHandle port) {
    Record("flush");
    return State().inner.flushReceiveQueue(port);
}
XLstatus Receive(XLportHandle port, uint32_t* count, XLevent* events) {
    {
        std::lock_guard lock(State().mutex);
        ++State().receiveCalls;
        if (!State().injected.empty()) {
            events[0] = State().injected.front();
            State().injected.pop_front();
            *count = 1;
            return kSuccess;
        }
    }
    return State().inner.receive(port, count, events);
}
XLstatus Mode(XLportHandle port, XLaccess mask, int tx, int txrq) {
    Record("mode tx=%d txrq=%d", tx, txrq);
    return State().inner.canSetChannelMode(port, mask, tx, txrq);
}
XLstatus Params(XLportHandle port, XLaccess mask, XLchipParams* params) {
    Record("params %u sjw=%u tseg1=%u tseg2=%u sam=%u", params->bitRate, params->sjw, params->tseg1,
           params->tseg2, params->sam);
    if (params->bitRate == State().refusedBitRate) return kErrWrongParameter;
    return State().inner.canSetChannelParams(port, mask, params);
}
XLstatus Output(XLportHandle port, XLaccess mask, int mode) {
    Record("output %d", mode);
    return State().inner.canSetChannelOutput(port, mask, mode);
}
XLstatus Acceptance(XLportHandle port, XLaccess mask, uint32_t code, uint32_t idMask,
                    uint32_t range) {
    Record("acceptance code=%X mask=%X range=%u", code, idMask, range);
    return State().inner.canSetChannelAcceptance(port, mask, code, idMask, range);
}
XLstatus Transmit(XLportHandle port, XLaccess mask, uint32_t* count, void* events) {
    const auto* event = static_cast<const XLevent*>(events);
    Record("transmit tag=%u id=%X dlc=%u", event->tag, event->tagData.msg.id,
           event->tagData.msg.dlc);
    return State().inner.canTransmit(port, mask, count, events);
}

constexpr XlDriverTable kRecordingTable = {
    &OpenDriver, &CloseDriver, &OpenPort, &ClosePort, &Activate,   &Deactivate, &Flush,
    &Receive,    &Mode,        &Params,   &Output,    &Acceptance, &Transmit};

}  // namespace

RecordingXl::RecordingXl(std::shared_ptr<XlSource> inner) {
    {
        std::lock_guard lock(State().mutex);
        State().inner = inner->table;
        State().calls.clear();
        State().injected.clear();
        State().receiveCalls = 0;
        State().failOpenPort = false;
        State().refusedBitRate = 0;
    }
    source_ = std::make_shared<XlSource>(*inner);
    source_->table = kRecordingTable;
    source_->owner = inner;
}

RecordingXl::~RecordingXl() {
    std::lock_guard lock(State().mutex);
    State().injected.clear();
}

std::vector<std::string> RecordingXl::Calls() const {
    std::lock_guard lock(State().mutex);
    return State().calls;
}

void RecordingXl::ClearCalls() {
    std::lock_guard lock(State().mutex);
    State().calls.clear();
}

size_t RecordingXl::ReceiveCalls() const {
    std::lock_guard lock(State().mutex);
    return State().receiveCalls;
}

void RecordingXl::Inject(const XLevent& event) {
    std::lock_guard lock(State().mutex);
    State().injected.push_back(event);
}

void RecordingXl::FailOpenPort(bool fail) {
    std::lock_guard lock(State().mutex);
    State().failOpenPort = fail;
}

}  // namespace diagbridge::cantest

namespace diagbridge::cantest {

void RecordingXl::RefuseBitRate(uint32_t bitRate) {
    std::lock_guard lock(State().mutex);
    State().refusedBitRate = bitRate;
}

}  // namespace diagbridge::cantest
