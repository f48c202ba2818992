#include "drivers/samtec/SamDiaXSubstitute.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "drivers/xl/VirtualCanBus.h"

namespace diagbridge::samtec {
namespace {

using samdiax::AsInt;
using samdiax::AsText;
namespace member = samdiax::member;

constexpr uint32_t kFunctionalId = 0x18DBFFF1;

// Keeps the frames of one bus.
class Recorder final : public xl::VirtualBusObserver {
  public:
    void OnFrame(xl::VirtualCanBus&, const xl::CanFrame& frame, uint32_t) override {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
    }
    size_t Count(uint32_t id, const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(mutex_);
        size_t count = 0;
        for (const xl::CanFrame& frame : frames_) {
            const bool sameId = (frame.id & ~xl::kExtendedId) == id;
            count += sameId && std::vector<uint8_t>(frame.data, frame.data + frame.dlc) == bytes;
        }
        return count;
    }

  private:
    std::mutex mutex_;
    std::vector<xl::CanFrame> frames_;
};

struct Bench {
    explicit Bench(const std::string& bus)
        : adapter(std::make_shared<SamDiaXSubstitute>("virtual:" + bus, "")) {
        xl::VirtualCanBus::Named(bus)->AddObserver(&recorder);
        busName = bus;
        adapter->Put(member::kMode, 1, {});
        adapter->SetParameter(10000, "500000");
        adapter->SetParameter(10205, std::to_string(0x18DA03F1));
        adapter->SetParameter(10207, std::to_string(0x18DAF103));
        adapter->SetParameter(10505, std::to_string(kFunctionalId));
    }
    ~Bench() { xl::VirtualCanBus::Named(busName)->RemoveObserver(&recorder); }
    // The transfer's result; its error message in message.
    int32_t Transfer(const std::string& request, std::string& message) {
        adapter->Put(member::kRequest, request, {});
        const int32_t result = AsInt(adapter->Call(member::kTransfer, {}));
        message = AsText(adapter->Get(member::kErrorMessage, {}));
        return result;
    }
    Recorder recorder;
    std::string busName;
    std::shared_ptr<SamDiaXSubstitute> adapter;
};

TEST(SamDiaXSubstituteTest, FailedRequestsLeaveTheirAccount) {
    struct Case {
        const char* request;
        bool functional;
        int32_t result;
        const char* message;
    } const cases[] = {
        {"22 G1", false, -2, "Request not a hex byte string"},
        {"2E F1 90 01 02 03 04 05", true, -7, "Request too long for its addressing"},
        {"22 F1 90", false, -4, "No response from the ECU"},  // nobody on the bus
        {"3E 80", true, 0, ""},  // a suppressed answer that stays away is success
    };
    Bench bench("samtec.errors");
    for (const Case& c : cases) {
        bench.adapter->SetParameter(10206, c.functional ? "1" : "0");
        std::string message;
        EXPECT_EQ(bench.Transfer(c.request, message), c.result) << c.request;
        EXPECT_EQ(message, c.message) << c.request;
        EXPECT_EQ(AsInt(bench.adapter->Get(member::kErrorNumber, {})), -c.result) << c.request;
    }
}

// Keep-alive mode 2 sends the message of parameter 10006 on the functional identifier between
// requests; mode 0 stops it.
TEST(SamDiaXSubstituteTest, FunctionalKeepAliveBetweenRequests) {
    Bench bench("samtec.keepalive");
    bench.adapter->SetParameter(10004, "2");
    bench.adapter->SetParameter(10006, "3E 80");
    bench.adapter->SetParameter(10506, "1");
    ASSERT_EQ(AsInt(bench.adapter->Call(member::kStartCommunication, {})), 1);
    const std::vector<uint8_t> testerPresent = {0x02, 0x3E, 0x80};
    for (int i = 0; i < 1000 && bench.recorder.Count(kFunctionalId, testerPresent) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(bench.recorder.Count(kFunctionalId, testerPresent), 1u);
    bench.adapter->SetParameter(10004, "0");
    bench.adapter->Call(member::kStopCommunication, {});
    EXPECT_EQ(AsInt(bench.adapter->Call(member::kRunning, {})), 0);
}

}  // namespace
}  // namespace diagbridge::samtec
