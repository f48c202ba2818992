// Creation time and idle CPU of a connected object of every stack: UDS over the CAN hub,
// KWP2000 on a K-line, T40 and Kalidor on their serial lines. Each virtual controller (and
// the UDS hub) runs in a child process started before any thread of this one, so that the
// CPU time of this process is the component's alone. For each stack: the time to create
// the communication object and the ECU object, the connect, then the process's CPU over the
// idle time with the keep-alive running, next to the target.
//
// usage: idle_cpu_benchmark [idle seconds per stack, default 10]

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/ChildProcessLines.h"
#include "component/CCommandInterface.h"
#include "component/ICommandInterfaceEvents.h"
#include "sim/can/CanHub.h"
#include "sim/kalidor/KalidorVirtualEcu.h"
#include "sim/kline/KlineDemoEcu.h"
#include "sim/t40/T40VirtualEcu.h"
#include "sim/uds/UdsVirtualEcu.h"

namespace {

using diagbridge::bench::ProcessCpuSeconds;
using diagbridge::bench::ReadLine;
using diagbridge::bench::WriteLine;

using Clock = std::chrono::steady_clock;
using diagbridge::CCommandInterface;

constexpr double kIdleTargetPercent = 0.1;  // of one core
constexpr const char* kUdsModel = "T60.1";
constexpr uint32_t kUdsBitRate = 500000;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The controller side of a child process: start gives the device (or hub socket) path, or
// "" when the controller did not start; requests gives the requests it has taken so far.
struct ControllerStart {
    std::function<std::string()> start;
    std::function<uint32_t()> requests;
};

// A virtual controller in a child process: the child writes its path, then answers each line
// from the parent with its request count, and ends when the parent closes the pipe.
class ChildController {
  public:
    explicit ChildController(const ControllerStart& controller) {
        int toParent[2];
        int toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) RunChild(controller, toChild, toParent);
        ::close(toParent[1]);
        ::close(toChild[0]);
        commands_ = toChild[1];
        replies_ = toParent[0];
        if (pid_ > 0) ReadLine(replies_, path_);
    }
    ~ChildController() {
        if (commands_ >= 0) ::close(commands_);
        if (replies_ >= 0) ::close(replies_);
        int status = 0;
        if (pid_ > 0) ::waitpid(pid_, &status, 0);
    }
    ChildController(const ChildController&) = delete;
    ChildController& operator=(const ChildController&) = delete;

    const std::string& Path() const { return path_; }
    // The requests the controller has taken so far; -1 when it does not answer.
    long Requests() {
        std::string line;
        if (::write(commands_, "?\n", 2) != 2 || !ReadLine(replies_, line)) return -1;
        return std::atol(line.c_str());
    }

  private:
    [[noreturn]] static void RunChild(const ControllerStart& controller, const int toChild[2],
                                      const int toParent[2]) {
        ::close(toParent[0]);
        ::close(toChild[1]);
        WriteLine(toParent[1], controller.start());
        std::string line;
        while (ReadLine(toChild[0], line))
            WriteLine(toParent[1], std::to_string(controller.requests()));
        _exit(0);
    }

    pid_t pid_ = -1;
    int commands_ = -1;
    int replies_ = -1;
    std::string path_;
};

// Counts what the component reports while idle: the keep-alive shows in traces and statuses.
class Sink final : public diagbridge::ICommandInterfaceEvents {
  public:
    int32_t DbrProgressMessage(int16_t, int16_t, const std::string&) override { return 0; }
    int32_t DbrStatusMessage(int32_t, const std::string&) override {
        ++events_;
        return 0;
    }
    int32_t DbrTraceMessage(int32_t, const std::string&) override {
        ++events_;
        return 0;
    }
    int Events() const { return events_.load(); }

  private:
    std::atomic<int> events_{0};
};

struct Stack {
    const char* name;
    std::string environmentKey;  // where the component finds the controller's path
    std::string environmentPrefix;
    std::string communication;
    std::string ecu;
};

// The process's CPU over idleSeconds with the object connected, printed next to the target;
// true when the target is met.
bool IdleWithinTarget(const char* name, ChildController& controller, const Sink& sink,
                      int idleSeconds) {
    const int eventsBefore = sink.Events();
    const long requestsBefore = controller.Requests();
    const double cpuBefore = ProcessCpuSeconds();
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double idle = SecondsSince(started);
    const double percent = (ProcessCpuSeconds() - cpuBefore) * 100.0 / idle;
    const long requests = controller.Requests() - requestsBefore;
    const bool met = percent < kIdleTargetPercent;
    std::printf(
        "%-8s idle connected %.1f s: CPU %.3f %% of one core (target < %.1f %%: %s); "
        "the controller took %ld requests, the component reported %d statuses/traces\n",
        name, idle, percent, kIdleTargetPercent, met ? "met" : "MISSED", requests,
        sink.Events() - eventsBefore);
    return met;
}

// Creates and connects the stack's objects (timing each step), measures the idle CPU and
// deletes the objects again.
void Measure(const Stack& stack, ChildController& controller, int idleSeconds, bool& allMet) {
    const std::string& path = controller.Path();
    if (path.empty()) {
        std::printf("%-8s virtual controller did not start\n", stack.name);
        allMet = false;
        return;
    }
    ::setenv(stack.environmentKey.c_str(), (stack.environmentPrefix + path).c_str(), 1);
    Sink sink;
    CCommandInterface component;
    const uint32_t cookie = component.Advise(&sink);
    int32_t communication = -1;
    int32_t ecu = -1;
    int32_t result = -1;
    auto started = Clock::now();
    component.DbrCreateCommunicationObject(stack.communication, &communication);
    const double createCommunication = SecondsSince(started);
    started = Clock::now();
    component.DbrCreateEcuObject(stack.ecu, communication, &ecu);
    const double createEcu = SecondsSince(started);
    started = Clock::now();
    component.DbrConnect(ecu, &result);
    const double connect = SecondsSince(started);
    std::printf(
        "%-8s create communication object %7.1f ms, ECU object %6.1f ms, connect %7.1f ms "
        "(result %d)\n",
        stack.name, createCommunication * 1e3, createEcu * 1e3, connect * 1e3, result);
    allMet = result == 0 && IdleWithinTarget(stack.name, controller, sink, idleSeconds) && allMet;
    component.DbrDeleteEcuObject(ecu, &result);
    component.DbrDeleteCommunicationObject(communication, &result);
    component.Unadvise(cookie);
}

ControllerStart UdsController(const std::string& socket) {
    static diagbridge::sim::CanHub hub;
    static std::unique_ptr<diagbridge::sim::UdsVirtualEcu> ecu;
    auto start = [socket]() -> std::string {
        std::string error;
        diagbridge::sim::UdsEcuProfile profile;
        if (!hub.Start(socket, error) ||
            !diagbridge::sim::ProfileForModel(kUdsModel, profile, error)) {
            return "";
        }
        profile.bitRate = kUdsBitRate;
        ecu = std::make_unique<diagbridge::sim::UdsVirtualEcu>(profile);
        return ecu->Start("hub:" + socket, error) ? socket : "";
    };
    return {start, [] { return ecu->RequestCount(); }};
}

ControllerStart KwpController() {
    static std::unique_ptr<diagbridge::sim::KlineDemoEcu> ecu;
    auto start = []() -> std::string {
        ecu = diagbridge::sim::KlineDemoEcu::Start();
        return ecu ? ecu->DevicePath() : "";
    };
    return {start, [] { return ecu->Line().FramesReceived(); }};
}

ControllerStart T40Controller() {
    static std::unique_ptr<diagbridge::sim::T40VirtualEcu> ecu;
    auto start = []() -> std::string {
        ecu = std::make_unique<diagbridge::sim::T40VirtualEcu>(diagbridge::sim::T40EcuOptions{});
        return ecu->Start() ? ecu->DevicePath() : "";
    };
    return {start, [] { return ecu->FramesReceived(); }};
}

ControllerStart KalidorController() {
    static std::unique_ptr<diagbridge::sim::KalidorVirtualEcu> ecu;
    auto start = []() -> std::string {
        ecu = std::make_unique<diagbridge::sim::KalidorVirtualEcu>(
            diagbridge::sim::KalidorEcuOptions{});
        return ecu->Start() ? ecu->DevicePath() : "";
    };
    return {start, [] { return ecu->CommandsAnswered(); }};
}

}  // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (idleSeconds <= 0 || idleSeconds > 3600) {
        std::fprintf(stderr, "usage: idle_cpu_benchmark [idle seconds per stack, 1..3600]\n");
        return 2;
    }
    const std::string socket = "/tmp/idle_cpu_benchmark." + std::to_string(::getpid()) + ".sock";
    // Every child is forked while this process still has one thread.
    ChildController uds(UdsController(socket));
    ChildController kwp(KwpController());
    ChildController t40(T40Controller());
    ChildController kalidor(KalidorController());

    const Stack stacks[] = {
        {"UDS", "DIAGBRIDGE_XL", "hub:", "UDS_ISO_14229|VECTOR=1|BAUDRATE=500000|TRACE=1",
         std::string(kUdsModel) + "|TESTERPRESENT=1"},
        {"KWP2000", "DIAGBRIDGE_COM9", "", "KWP2000|RS232=9|STATUS=1|TRACE=1", "T60"},
        {"T40", "DIAGBRIDGE_COM5", "", "ISO_9141|RS232=5|STATUS=1|TRACE=1", "T40H4"},
        {"Kalidor", "DIAGBRIDGE_COM6", "", "KALIDOR|RS232=6|STATUS=1|TRACE=1", "KALIDOR_QUICK"},
    };
    ChildController* controllers[] = {&uds, &kwp, &t40, &kalidor};
    std::printf("idle CPU of this process (the component alone; controllers in child processes)\n");
    bool allMet = true;
    for (size_t i = 0; i < std::size(stacks); ++i) {
        Measure(stacks[i], *controllers[i], idleSeconds, allMet);
    }
    std::remove(socket.c_str());
    return allMet ? 0 : 1;
}
