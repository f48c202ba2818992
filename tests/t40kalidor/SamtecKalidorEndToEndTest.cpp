// Kalidor on the Samtec adapter path: the SamDiaX substitute on the virtual controller's
// pseudo-terminal, in both modes, through the command interface.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "component/CCommandInterface.h"
#include "drivers/samtec/SamDiaXSubstitute.h"
#include "platform/Notifier.h"
#include "sim/kalidor/KalidorVirtualEcu.h"

namespace diagbridge {
namespace {

namespace fs = std::filesystem;

const std::string kCommunication = std::string("KALIDOR|SAMTECUSB=1|SAMTECFIRMWARE=") +
                                   samtec::kSubstituteFirmware + "|SAMTECCONFIGFILE=kalidor.cfg";

// The controller's thread sees the last bytes a little after the adapter wrote them.
bool AwakeBecomes(const sim::KalidorVirtualEcu& ecu, bool wanted) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ecu.Awake() != wanted) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class SamtecKalidorEndToEnd : public ::testing::Test {
  protected:
    void Start(bool freeRun, const std::string& model) {
        data_ = fs::temp_directory_path() / ("samkal-" + std::to_string(getpid()));
        const fs::path settings = data_ / "samtec" / "Configuration" / "Settings";
        fs::create_directories(settings);
        std::ofstream(settings / "kalidor.cfg") << "; Kalidor on the K-line\n1030=25\n";
        sim::KalidorEcuOptions options;
        options.freeRun = freeRun;
        options.framePeriodMs = 100;
        ecu_.emplace(options);
        ASSERT_TRUE(ecu_->Start());
        setenv("DIAGBRIDGE_SAMTEC_DATA", data_.c_str(), 1);
        setenv("DIAGBRIDGE_SAMTEC_KLINE", ecu_->DevicePath().c_str(), 1);
        ASSERT_EQ(component_.DbrCreateCommunicationObject(kCommunication, &communication_), 0);
        ASSERT_GE(communication_, 0);
        ASSERT_EQ(component_.DbrCreateEcuObject(model, communication_, &ecuId_), 0);
        ASSERT_GE(ecuId_, 0);
    }
    void TearDown() override {
        int32_t result = 0;
        if (communication_ >= 0) component_.DbrDeleteCommunicationObject(communication_, &result);
        if (ecu_) ecu_->Stop();
        unsetenv("DIAGBRIDGE_SAMTEC_KLINE");
        unsetenv("DIAGBRIDGE_SAMTEC_DATA");
        if (!data_.empty()) fs::remove_all(data_);
    }
    int32_t Connect() {
        int32_t result = 1;
        EXPECT_EQ(component_.DbrConnect(ecuId_, &result), 0);
        return result;
    }
    std::string Request(const std::string& request, int32_t& result) {
        std::string response = "stale";
        EXPECT_EQ(component_.DbrSingleRequest(ecuId_, request, &response, &result), 0);
        return response;
    }
    std::string Upload(int32_t& result) {
        std::string text = "stale";
        EXPECT_EQ(component_.DbrUpload(ecuId_, "", &text, &result), 0);
        return text;
    }
    void Silence(bool silent) {
        sim::KalidorFaults faults;
        faults.silent = silent;
        ecu_->InjectFaults(faults);
    }

    std::vector<std::string> shown_;
    platform::ScopedNotifier notifier_{[this](const std::string& text) { shown_.push_back(text); }};
    fs::path data_;
    std::optional<sim::KalidorVirtualEcu> ecu_;
    CCommandInterface component_;
    int32_t communication_ = -1;
    int32_t ecuId_ = -1;
};

TEST_F(SamtecKalidorEndToEnd, QuickModeHandShakesAndAnswersCommands) {
    Start(false, "KALIDOR_QUICK");
    ASSERT_EQ(Connect(), 0);
    EXPECT_TRUE(shown_.empty()) << shown_.front();
    EXPECT_TRUE(AwakeBecomes(*ecu_, true));  // the hand-shake carried the controller's keys
    int32_t result = 1;
    EXPECT_EQ(Request("02 11", result), "42 11 33");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Request("01", result), "41 4B 41 4C 31");
    EXPECT_EQ(result, 0);

    Silence(true);
    EXPECT_EQ(Request("01", result), "");
    EXPECT_LT(result, 0);
    Silence(false);
    EXPECT_EQ(Request("02 05", result), "42 05 0F");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Request("02 80", result), "");  // 80 would end the command after 02
    EXPECT_LT(result, 0);
    EXPECT_EQ(Request("02 11", result), "42 11 33");
    EXPECT_EQ(result, 0);

    int32_t disconnected = 1;
    EXPECT_EQ(component_.DbrDisconnect(ecuId_, &disconnected), 0);
    EXPECT_EQ(disconnected, 0);
    EXPECT_TRUE(AwakeBecomes(*ecu_, false));  // 0F 80 ended the session
}

TEST_F(SamtecKalidorEndToEnd, FreeRunHandsOutWholeFrames) {
    Start(true, "KALIDOR_FREE_RUN");
    ASSERT_EQ(Connect(), 0);
    int32_t result = 1;
    const std::string frame = Upload(result);
    EXPECT_EQ(result, 0);
    constexpr size_t kFrameText = 21 * 3 - 1;  // 21 bytes
    ASSERT_EQ(frame.size(), kFrameText) << frame;
    EXPECT_EQ(frame.substr(0, 9), "55 79 80 ");
    EXPECT_EQ(frame.substr(frame.size() - 26), "04 30 31 32 33 34 35 36 37");

    sim::KalidorFaults faults;
    faults.badFrames = 1000;  // frames of no length rule are never handed out
    ecu_->InjectFaults(faults);
    EXPECT_EQ(Upload(result), "");
    EXPECT_LT(result, 0);
    Silence(true);
    EXPECT_EQ(Upload(result), "");
    EXPECT_LT(result, 0);
    Silence(false);
    EXPECT_EQ(Upload(result).size(), kFrameText);
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace diagbridge
