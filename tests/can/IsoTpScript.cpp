#include "IsoTpScript.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <sstream>

namespace diagbridge::cantest {

namespace {

using namespace xl;
using RealTime = std::chrono::steady_clock::time_point;

constexpr XLportHandle kScriptPort = 1;

struct Scheduled {
    Frame frame;
    uint32_t at = 0;
};

// The bus as the script has it: the steps of all calls in one row (numbered from 1), the tick
// of the start (ticks[0]) and of every step that happened, and the ECU frames put on the bus
// but not yet taken by the tester.
struct Player {
    platform::ManualClock* clock = nullptr;
    std::vector<ScriptStep> steps;
    std::vector<uint32_t> ticks;
    size_t next = 0;
    std::deque<Scheduled> queue;
    std::vector<std::string> faults;
    RealTime lastTesterFrame{};
    bool derailed = false;
};

Player& State() {
    static Player player;
    return player;
}

std::string Describe(const Frame& frame) {
    std::ostringstream text;
    text << frame;
    return text.str();
}

void Fault(const std::string& text) {
    State().faults.push_back(text);
}

// A departure that leaves the rest of the script meaningless: stop playing it.
void Derail(const std::string& text) {
    Player& player = State();
    Fault(text);
    player.derailed = true;
    player.queue.clear();
}

std::string StepName(size_t index) {
    return "step " + std::to_string(index + 1);
}

void CheckWindow(size_t number) {
    Player& player = State();
    const TimingWindow& window = player.steps[number - 1].window;
    if (window.back == 0 || window.back > number) {
        Fault("step " + std::to_string(number) + " has no step to be timed from");
        return;
    }
    const std::string fault = testing::WindowFault(
        number, window, player.ticks[number] - player.ticks[number - window.back]);
    if (!fault.empty()) Fault(fault);
}

// Puts the ECU frames that follow the step just taken on the bus, each at its time.
void ScheduleEcuFrames() {
    Player& player = State();
    while (player.next < player.steps.size() &&
           player.steps[player.next].actor == Actor::kEcuFrame) {
        const ScriptStep& step = player.steps[player.next];
        const uint32_t at = player.ticks.back() + step.window.minMs;
        player.ticks.push_back(at);
        player.queue.push_back({{step.id, step.bytes}, at});
        ++player.next;
    }
}

// The tester did what step next must be: record its time and check it.
void Take(const RealTime& now) {
    Player& player = State();
    player.ticks.push_back(player.clock->TickMs());
    const size_t step = player.next++;
    CheckWindow(step + 1);
    const ScriptStep& taken = player.steps[step];
    if (taken.actor == Actor::kTesterFrame && taken.minGapUs > 0) {
        const auto gap =
            std::chrono::duration_cast<std::chrono::microseconds>(now - player.lastTesterFrame);
        if (gap.count() < taken.minGapUs) {
            Fault(StepName(step) + " came " + std::to_string(gap.count()) +
                  " us after the previous tester frame, at least " +
                  std::to_string(taken.minGapUs) + " us wanted");
        }
    }
    if (taken.actor == Actor::kTesterFrame) player.lastTesterFrame = now;
    ScheduleEcuFrames();
}

void OnTesterFrame(const Frame& frame) {
    Player& player = State();
    const RealTime now = std::chrono::steady_clock::now();
    if (player.derailed) return;
    if (player.next >= player.steps.size() ||
        player.steps[player.next].actor != Actor::kTesterFrame) {
        Derail(StepName(player.next) + ": tester sent " + Describe(frame) +
               " where the script has none");
        return;
    }
    const ScriptStep& step = player.steps[player.next];
    const Frame expected{step.id, step.bytes};
    if (!(frame == expected)) {
        Derail(StepName(player.next) + ": tester sent " + Describe(frame) + ", script has " +
               Describe(expected));
        return;
    }
    Take(now);
}

void OnReturn(size_t call) {
    Player& player = State();
    if (player.derailed) return;
    if (player.next >= player.steps.size() || player.steps[player.next].actor != Actor::kReturn) {
        const std::string what = player.next < player.steps.size()
                                     ? StepName(player.next) + " never came"
                                     : "the script had ended";
        Derail("call " + std::to_string(call + 1) + " returned early: " + what);
        return;
    }
    Take(std::chrono::steady_clock::now());
}

bool Due(const Scheduled& scheduled) {
    return scheduled.at <= State().clock->TickMs();
}

XLstatus Ok() {
    return kSuccess;
}
XLstatus OpenPort(XLportHandle* port, char*, XLaccess, XLaccess*, uint32_t, uint32_t, uint32_t) {
    *port = kScriptPort;
    return kSuccess;
}
XLstatus ClosePort(XLportHandle) {
    return kSuccess;
}
XLstatus Activate(XLportHandle, XLaccess, uint32_t, uint32_t) {
    return kSuccess;
}
XLstatus Deactivate(XLportHandle, XLaccess) {
    return kSuccess;
}
// Drops what has reached the receive queue; frames still to come stay scheduled.
XLstatus Flush(XLportHandle) {
    auto& queue = State().queue;
    queue.erase(std::remove_if(queue.begin(), queue.end(), Due), queue.end());
    return kSuccess;
}
XLstatus Receive(XLportHandle, uint32_t* count, XLevent* events) {
    auto& queue = State().queue;
    if (queue.empty() || !Due(queue.front())) {
        *count = 0;
        return kErrQueueIsEmpty;
    }
    const Frame& frame = queue.front().frame;
    XLevent event{};
    event.tag = kTagReceiveMsg;
    event.timeStamp = uint64_t{queue.front().at} * 1000000u;
    event.tagData.msg.id = frame.id;
    event.tagData.msg.dlc = static_cast<uint16_t>(frame.bytes.size());
    std::memcpy(event.tagData.msg.data, frame.bytes.data(),
                std::min<size_t>(frame.bytes.size(), 8));
    events[0] = event;
    *count = 1;
    queue.pop_front();
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
XLstatus Transmit(XLportHandle, XLaccess, uint32_t* count, void* events) {
    const auto* event = static_cast<const XLevent*>(events);
    const XLcanMsg& message = event->tagData.msg;
    OnTesterFrame(
        {message.id,
         std::vector<uint8_t>(message.data, message.data + std::min<uint16_t>(message.dlc, 8))});
    *count = 1;
    return kSuccess;
}

// Waiting is where time passes: up to the next scheduled ECU frame, or the whole wait.
bool WaitForEvent(XLportHandle, uint32_t ms) {
    Player& player = State();
    const uint32_t now = player.clock->TickMs();
    if (!player.queue.empty() && player.queue.front().at <= now + ms) {
        if (player.queue.front().at > now) player.clock->Advance(player.queue.front().at - now);
        return true;
    }
    player.clock->Advance(ms);
    return false;
}

constexpr XlDriverTable kScriptTable = {&Ok,         &Ok,         &OpenPort, &ClosePort, &Activate,
                                        &Deactivate, &Flush,      &Receive,  &Mode,      &Params,
                                        &Output,     &Acceptance, &Transmit};

std::shared_ptr<XlSource> ScriptSource() {
    auto source = std::make_shared<XlSource>();
    source->selector = "script";
    source->table = kScriptTable;
    source->waitForEvent = &WaitForEvent;
    return source;
}

void Load(const IsoTpScript& script, platform::ManualClock& clock) {
    Player& player = State();
    player = Player{};
    player.clock = &clock;
    player.ticks.push_back(clock.TickMs());
    for (const ScriptCall& call : script.calls) {
        player.steps.insert(player.steps.end(), call.steps.begin(), call.steps.end());
    }
}

void CheckOutcome(size_t index, const ScriptCall& call, int32_t result, int32_t length,
                  const std::vector<uint8_t>& response) {
    const std::string label = "call " + std::to_string(index + 1) + ": ";
    if (result != call.result) {
        Fault(label + "result " + std::to_string(result) + ", script has " +
              std::to_string(call.result));
    }
    if (length != std::max(result, 0)) {
        Fault(label + "response length " + std::to_string(length) + " with result " +
              std::to_string(result));
    }
    const std::vector<uint8_t> got(response.begin(),
                                   response.begin() + std::clamp<int32_t>(length, 0, 4096));
    if (got != call.response) {
        Fault(label + "response " + Describe({0, got}) + ", script has " +
              Describe({0, call.response}));
    }
}

}  // namespace

ScriptStep TesterFrame(std::vector<uint8_t> bytes, TimingWindow window) {
    return {Actor::kTesterFrame, kRequestId, std::move(bytes), window, 0};
}

ScriptStep TesterFrameAfterUs(std::vector<uint8_t> bytes, TimingWindow window, uint32_t minGapUs) {
    return {Actor::kTesterFrame, kRequestId, std::move(bytes), window, minGapUs};
}

ScriptStep EcuFrame(uint32_t ms, std::vector<uint8_t> bytes) {
    return EcuFrameOn(kResponseId, ms, std::move(bytes));
}

ScriptStep EcuFrameOn(uint32_t id, uint32_t ms, std::vector<uint8_t> bytes) {
    return {Actor::kEcuFrame, id, std::move(bytes), testing::After(ms), 0};
}

ScriptStep Returns(TimingWindow window) {
    return {Actor::kReturn, 0, {}, window, 0};
}

std::vector<std::string> PlayIsoTpScript(const IsoTpScript& script) {
    platform::ManualClock clock(10000);
    platform::ScopedClock scoped(clock);
    Load(script, clock);
    CIsoTp channel(ScriptSource());
    channel.SetOptions(script.options);
    if (channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone) != 1) return {"channel not open"};
    ScheduleEcuFrames();
    for (size_t index = 0; index < script.calls.size(); ++index) {
        const ScriptCall& call = script.calls[index];
        std::vector<uint8_t> response(4096, 0xEE);
        int32_t length = -1;
        const int32_t result =
            channel.Transfer(call.request.data(), static_cast<int32_t>(call.request.size()),
                             response.data(), call.capacity, &length);
        OnReturn(index);
        CheckOutcome(index, call, result, length, response);
    }
    Player& player = State();
    if (!player.derailed && player.next < player.steps.size()) {
        Fault(StepName(player.next) + " never came");
    }
    channel.Close();
    return player.faults;
}

}  // namespace diagbridge::cantest
