#pragma once
// The whole component against the virtual UDS ECU on an in-process CAN bus: a command
// interface with a T6x-like test model, its UDS communication object on the Vector path, and
// the ECU built from the same model's access table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "component/CCommandInterface.h"
#include "ecu/CEcu.h"
#include "engine/CConvert.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"
#include "platform/Clock.h"
#include "sim/uds/UdsVirtualEcu.h"

namespace diagbridge::e2e {

constexpr const char* kModelKeyword = "E2E_T6X_UDS";
constexpr uint8_t kBlockSize = 32;

// A stand-in for the T6x UDS models: their addresses and access table, keys by
// (seed x multiplier + addend) mod 65536. Creation keys: PREPOST=1 (programming sequences
// around a download).
class E2eUdsModel : public CEcu {
  public:
    E2eUdsModel(CSoftwareInterface* communicationObject, const std::string& parameter)
        : CEcu(communicationObject) {
        SetCreated(true);
        InitIdent(kModelKeyword, "UDS_ISO_14229");
        SetPermissions(true, true, true, true);
        const AccessStep steps[] = {
            {"10 01", "", "", {"", "", ""}, 0, 0, true, 0},
            {"10 01", "", "", {"2E FE FF 20 14 03 27 01 02", "", ""}, 0, 0, true, 0},
            {"10 02", "27 61", "27 62", {"2E FE FE 20 14 03 27 01 02", "", ""}, 31, 4711, true, 0},
            {"10 03", "27 61", "27 62", {"", "", ""}, 17, 815, true, 0},
        };
        for (const AccessStep& step : steps) {
            accessTable_[static_cast<std::size_t>(accessCount_++)] = step;
        }
        UdsParameterBlock& uds = parameters_.uds;
        uds.requestId = 0x18DA03F1;
        uds.responseId = 0x18DAF103;
        uds.fingerprint60 = FingerprintWrite();
        uds.crcInDependencyCheck = true;
        uds.programmingAccess = 2;
        uds.uploadType = 3;
        uds.memoryStart = 0x400180;
        uds.memoryLength = 0x100;
        uds.memoryChunk = 0x80;
        uds.identTable = {{"22 F1 90", "VinOriginal", ""}, {"22 F1 8C", "Seriennummer", ""}};
        uds.sidRequests = {"22 F1 95"};
        if (ParseParameterString(parameter) < 0) SetCreated(false);
    }
    int32_t ParseParameterString(const std::string& text) override {
        return diagbridge::ParseParameterString(
            text, kModelKeyword, [this](const std::string& key, const std::string& value) {
                return SetParameter(key, value);
            });
    }
    int32_t SetParameter(const std::string& key, const std::string& value) override {
        if (key != "PREPOST") return kResultBadParameter;
        parameters_.uds.prePostProgramming = ReadSwitch(value);
        return 0;
    }
    std::string BuildAccessRequest(const AccessStep& step, const std::string& seed) override {
        uint8_t bytes[8];
        std::size_t stored = 0;
        if (HexStringToBytes(seed, bytes, sizeof(bytes), stored) < 0 || stored < 4) return {};
        const int64_t value = (bytes[2] << 8) | bytes[3];
        const int64_t key = (value * step.keyMultiplier + step.keyAddend) % 65536;
        char text[32];
        std::snprintf(text, sizeof(text), "%s %02X %02X", step.keyRequestPrefix.c_str(),
                      static_cast<unsigned>(key >> 8), static_cast<unsigned>(key & 0xFF));
        return text;
    }
    std::string BuildMemorySection() override {
        return "[FRAM]|" + std::to_string(uploadData_.memoryLines.size()) + " lines|";
    }
    int32_t Connect() override { return ConnectThroughCommunicationObject(); }

    // The 60-byte tester fingerprint: 2E FE FF and 57 data bytes (a segmented request).
    static std::string FingerprintWrite() {
        std::string text = "2E FE FF";
        char byte[4];
        for (int i = 0; i < 57; ++i) {
            std::snprintf(byte, sizeof(byte), " %02X", i);
            text += byte;
        }
        return text;
    }
};

inline std::unique_ptr<CEcu> CreateE2eModel(CSoftwareInterface* object,
                                            const std::string& parameter) {
    return std::make_unique<E2eUdsModel>(object, parameter);
}

inline ObjectRegistry E2eRegistry() {
    ObjectRegistry registry = DefaultObjectRegistry();
    registry.ecuTypes.push_back({kModelKeyword, kProtocolUds, "E2eUdsModel", &CreateE2eModel});
    return registry;
}

// A bus of its own per test.
inline std::string UniqueBus() {
    static int serial = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("e2e.") + info->test_suite_name() + "." + info->name() + "#" +
           std::to_string(++serial);
}

// The component and the virtual ECU on one bus, with the protocol's pauses on a manual
// clock (the waits for frames stay real).
class UdsSession {
  public:
    // keyword: the test model, or a controller model ("T60.1", ...) that the ECU plays from
    // its own model table.
    explicit UdsSession(const sim::UdsFaultPlan& faults = {}, const std::string& options = "",
                        const std::string& keyword = kModelKeyword)
        : scoped_(clock_), component_(E2eRegistry()) {
        const std::string selector = "virtual:" + UniqueBus();
        setenv("DIAGBRIDGE_XL", selector.c_str(), 1);
        sim::UdsEcuProfile profile = sim::DefaultUdsEcuProfile();
        if (keyword == kModelKeyword) {
            // The stand-in model's key constants, as the ECU knows them.
            profile.keyRules = {{0x02, 0x61, 31, 4711}, {0x03, 0x61, 17, 815}};
        } else {
            std::string error;
            EXPECT_TRUE(sim::ProfileForModel(keyword, profile, error)) << error;
        }
        // The bus runs without wire time here, so the tester sends as fast as it can: the
        // ECU takes 32 frames per flow control, well within the 256 its channel queues.
        profile.flow.blockSize = kBlockSize;
        ecu_ = std::make_unique<sim::UdsVirtualEcu>(profile);
        ecu_->SetFaults(faults);
        std::string error;
        started_ = ecu_->Start(selector, error);
        EXPECT_TRUE(started_) << error;
        modelParameter_ = keyword + options;
    }
    ~UdsSession() {
        int32_t result = 0;
        if (communication_ >= 0) component_.DbrDeleteCommunicationObject(communication_, &result);
        ecu_->Stop();
    }

    // Creates both objects and connects; the connect result.
    int32_t Connect() {
        component_.DbrCreateCommunicationObject("UDS_ISO_14229|VECTOR=1|BAUDRATE=500000",
                                                &communication_);
        if (communication_ < 0) return communication_;
        component_.DbrCreateEcuObject(modelParameter_, communication_, &ecuId_);
        if (ecuId_ < 0) return ecuId_;
        int32_t result = 0;
        component_.DbrConnect(ecuId_, &result);
        return result;
    }
    std::string Request(const std::string& request, int32_t& result) {
        std::string response;
        component_.DbrSingleRequest(ecuId_, request, &response, &result);
        return response;
    }
    int32_t Access(int32_t index) {
        int32_t result = 0;
        component_.DbrSetPredefinedDiagnosticAccess(ecuId_, index, &result);
        return result;
    }
    int32_t Download(const std::string& hexText) {
        int32_t result = 0;
        component_.DbrDownload(ecuId_, 0, hexText, &result);
        return result;
    }
    std::string Upload(int32_t& result) {
        std::string text;
        component_.DbrUpload(ecuId_, "", &text, &result);
        return text;
    }
    std::string Ident(int32_t& result) {
        std::string text;
        component_.DbrGetIdent(ecuId_, &text, &result);
        return text;
    }
    sim::UdsVirtualEcu& Ecu() { return *ecu_; }

  private:
    platform::ManualClock clock_;
    platform::ScopedClock scoped_;
    CCommandInterface component_;
    std::unique_ptr<sim::UdsVirtualEcu> ecu_;
    bool started_ = false;
    std::string modelParameter_;
    int32_t communication_ = -1;
    int32_t ecuId_ = -1;
};

}  // namespace diagbridge::e2e
