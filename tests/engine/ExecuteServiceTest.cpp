#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/Notifier.h"
#include "support/EventRecorder.h"
#include "support/FakeProtocol.h"

namespace diagbridge {
namespace {

using testing::EventRecorder;
using testing::FakeEcu;
using testing::FakeProtocol;

ServiceOrder Order(int32_t command, const std::string& request = {}) {
    ServiceOrder order;
    order.command = command;
    order.request = request;
    return order;
}

// Polls a condition for at most 10 s.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class ExecuteServiceTest : public ::testing::Test {
  protected:
    ExecuteServiceTest()
        : object(&events, "FAKE|PROGRESS=1|STATUS=1|TRACE=1"), ecu(&object, "FAKE_ECU") {}
    void Connect() {
        ASSERT_EQ(object.ExecuteService(Order(kCommandCreateHWObject)), 0);
        ASSERT_EQ(object.ExecuteService(Order(kCommandConnect), &ecu), 0);
        ASSERT_TRUE(ecu.IsConnected());
    }
    EventRecorder events;
    FakeProtocol object;
    FakeEcu ecu;
};

TEST_F(ExecuteServiceTest, RunsTheOrderAndKeepsItsResultRecord) {
    Connect();
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "22 F1 90")), 0);
    EXPECT_EQ(ecu.ResponseText(), "62 F1 90");
    EXPECT_EQ(ecu.LastOrder().request, "22 F1 90");
    EXPECT_EQ(ecu.LastResult().response, "62 F1 90");
    EXPECT_EQ(object.CurrentOrder().command, kCommandIdle);
}

TEST_F(ExecuteServiceTest, SingleRequestNeverChangesTheStatus) {
    Connect();
    events.Clear();
    object.singleRequestResult = -1;
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "3E")), -1);
    EXPECT_EQ(object.StatusCode(), kStatusConnected);
    EXPECT_TRUE(events.OfKind("status").empty());
}

TEST_F(ExecuteServiceTest, TimeoutAnswersAtOnceAndStopsTheService) {
    Connect();
    object.timeoutMs = 50;
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "BLOCK")), kResultTimeout);
    // The stop request reaches the blocked service; the status stays untouched.
    EXPECT_TRUE(Eventually([&] { return !object.blocked.load(); }));
    EXPECT_EQ(object.StatusCode(), kStatusConnected);
    // The next order runs normally once the worker is back.
    object.timeoutMs = 10000;
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "22 F1 90")), 0);
    EXPECT_EQ(ecu.ResponseText(), "62 F1 90");
}

TEST_F(ExecuteServiceTest, NextOrderWaitsForTheCancelledServiceInsteadOfOverwritingIt) {
    Connect();
    object.timeoutMs = 20;
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "BLOCK")), kResultTimeout);
    object.timeoutMs = 10000;
    // Right away, while the first service may still be winding down.
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "22 F1 90")), 0);
    EXPECT_EQ(object.lastAddressMode, 0);
    EXPECT_EQ(ecu.ResponseText(), "62 F1 90");
}

TEST_F(ExecuteServiceTest, NoOperationCodesAreClearedAndIdleCodesWait) {
    for (int32_t code : {5, 6, 8, 9}) {
        EXPECT_EQ(object.ExecuteService(Order(code)), 0) << code;
        EXPECT_EQ(object.CurrentOrder().command, kCommandIdle) << code;
    }
    EXPECT_EQ(object.ExecuteService(Order(16)), 0);
    EXPECT_EQ(object.CurrentOrder().command, 16);
    EXPECT_EQ(object.StatusCode(), kStatusNothing);
}

TEST_F(ExecuteServiceTest, KeepAliveRunsBetweenServicesAndParksForTheNext) {
    object.useKeepAlive = true;
    Connect();
    // After a successful service the worker repeats command 15 on its own.
    EXPECT_TRUE(Eventually([&] { return object.keepAlivePasses.load() >= 3; }));
    EXPECT_TRUE(events.WaitFor("status", 3));
    const auto statuses = events.OfKind("status");
    EXPECT_EQ(statuses.back().a, kStatusAlive);
    EXPECT_EQ(statuses.back().text, "Status: 6 ALIVE");
    // A service parks the loop, runs, and starts it again.
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "22 F1 90")), 0);
    EXPECT_EQ(ecu.ResponseText(), "62 F1 90");
    const int before = object.keepAlivePasses.load();
    EXPECT_TRUE(Eventually([&] { return object.keepAlivePasses.load() > before; }));
}

TEST_F(ExecuteServiceTest, AnOrderWaitsOutAKeepAliveLongerThanThePhaseZeroWait) {
    object.useKeepAlive = true;
    Connect();
    const int32_t longerThanPhaseZero = 2 * CSoftwareInterface::kKeepAliveParkMs;
    object.keepAliveBusyMs.store(longerThanPhaseZero);
    ASSERT_TRUE(Eventually([&] { return object.keepAliveBusy.load(); }));
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "22 F1 90")), 0);
    EXPECT_FALSE(object.keepAliveBusy.load());
    EXPECT_EQ(ecu.ResponseText(), "62 F1 90");
}

TEST_F(ExecuteServiceTest, NoKeepAliveWithoutAConnectedEcu) {
    object.useKeepAlive = true;
    ASSERT_EQ(object.ExecuteService(Order(kCommandCreateHWObject)), 0);
    EXPECT_EQ(ecu.RunService(Order(kCommandSingleRequest, "3E")), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(object.keepAlivePasses.load(), 0);
}

TEST_F(ExecuteServiceTest, BaseDisconnectAndDeleteReportTheirSteps) {
    EXPECT_EQ(object.ExecuteService(Order(kCommandDisconnect)), kResultFailure);
    EXPECT_EQ(object.StatusCode(), kStatusInternalMalfunction);
    Connect();
    EXPECT_EQ(object.ExecuteService(Order(kCommandDisconnect)), 0);
    EXPECT_FALSE(ecu.IsConnected());
    EXPECT_EQ(object.ExecuteService(Order(kCommandDeleteHWObject)), 0);
    EXPECT_EQ(object.HardwareInterface(), nullptr);
    EXPECT_EQ(object.StatusCode(), kStatusDeleted);
    EXPECT_EQ(object.ExecuteService(Order(kCommandDeleteHWObject)), kResultFailure);
    std::vector<std::string> texts;
    for (const auto& e : events.OfKind("progress")) texts.push_back(e.text);
    const std::vector<std::string> expected = {
        "ServiceDisconnectFromObject: Start",
        "ServiceDisconnectToObject:  Error No HW Object detected",
        "ServiceConnectToObject: Start",
        "ServiceDisconnectFromObject: Start",
        "ServiceDisconnectToObject:  Stop Communication",
        "ServiceDisconnectToObject: Finished",
        "ServiceDeleteHWObject: Start",
        "ServiceDeleteHWObject: HALDeInit",
        "ServiceDeleteHWObject: finished",
        "ServiceDeleteHWObject: Start",
        "ServiceDeleteHWObject: Error No HW Object detected",
    };
    EXPECT_EQ(texts, expected);
}

TEST_F(ExecuteServiceTest, DetachedEcuIsNoLongerTouched) {
    Connect();
    EXPECT_TRUE(object.DetachEcu(&ecu));
    EXPECT_EQ(object.AttachedEcu(), nullptr);
    object.SetStatus(-1, kStatusConnected);
    EXPECT_TRUE(ecu.IsConnected());
}

class ThrowingProtocol : public FakeProtocol {
  public:
    ThrowingProtocol() : FakeProtocol(nullptr, "FAKE") {}
    int32_t ServiceJob(ServiceOrder) override { throw std::runtime_error("broken"); }
};

TEST(WorkerFailureTest, AFatalErrorEndsTheWorkerAndLaterOrdersTimeOut) {
    std::vector<std::string> messages;
    platform::ScopedNotifier capture([&](const std::string& m) { messages.push_back(m); });
    ThrowingProtocol object;
    ServiceOrder job;
    job.command = kCommandJob;
    EXPECT_EQ(object.ExecuteService(job), kResultTimeout);
    EXPECT_EQ(object.ExecuteService(Order(kCommandSingleRequest, "3E")), kResultTimeout);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Fatal thread error !!\nCheck your installation!!");
}

}  // namespace
}  // namespace diagbridge
