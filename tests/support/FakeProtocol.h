#pragma once
// A protocol class and an ECU model that stand in for the real stacks in engine and
// component tests: scripted answers, a service that blocks until it is cancelled, and a
// keep-alive loop that counts its passes.
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "devices/CHardwareInterface.h"
#include "ecu/CEcu.h"
#include "ecu/EcuTypeRegistry.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"

namespace diagbridge::testing {

constexpr const char* kFakeKeyword = "FAKE";
constexpr const char* kFakeEcuKeyword = "FAKE_ECU";
// A single request the fake protocol blocks on until it is cancelled.
constexpr const char* kBlockingRequest = "B1";

class FakeHardware : public CHardwareInterface {
  public:
    FakeHardware() : CHardwareInterface(EcuParameterBlock{}, InterfaceSettings{}) {
        deviceList_ = "|FAKE adapter";
    }
    int32_t HALDisconnect() override {
        ++disconnects;
        return 0;
    }
    int disconnects = 0;
};

class FakeProtocol : public CSoftwareInterface {
  public:
    FakeProtocol(IServiceEvents* events, const std::string& parameter)
        : CSoftwareInterface(events, kProtocolUds) {
        AcceptParameterString(parameter);
        lastCreated = this;
    }
    ~FakeProtocol() override { StopWorker(); }

    int32_t ParseParameterString(const std::string& text) override {
        return diagbridge::ParseParameterString(
            text, kFakeKeyword,
            [this](const std::string& k, const std::string& v) { return SetParameter(k, v); });
    }
    int32_t SetParameter(const std::string& key, const std::string& value) override {
        if (key.empty()) return 0;
        if (SetCommonParameter(key, value)) return 0;
        if (key == "PORT") {
            port = ReadDecimal(StripBlanks(value));
            return 0;
        }
        if (key == "FAILCREATE") {
            failCreate = ReadSwitch(value);
            return 0;
        }
        return kResultBadParameter;
    }
    std::string GetParameterString() override {
        char text[32];
        std::snprintf(text, sizeof(text), "|PORT=%d", port);
        return std::string(kFakeKeyword) + text + CommonParameterString();
    }
    int32_t GetServiceTimeout() override { return timeoutMs; }
    int32_t SetKeepAlive(int32_t phase) override {
        if (useKeepAlive) KeepAlivePhase(phase);
        return 0;
    }
    int32_t ServiceKeepAlive() override {
        keepAlivePasses.fetch_add(1);
        if (keepAliveBusyMs.load() > 0) {
            keepAliveBusy.store(true);
            platform::Clock().SleepMs(static_cast<uint32_t>(keepAliveBusyMs.exchange(0)), nullptr);
            keepAliveBusy.store(false);
            RaiseTrace(0, "keep-alive done");
        }
        return 0;
    }
    int32_t ServiceCreateHWObject(ServiceOrder) override {
        if (failCreate) return kResultFailure;
        SetHardwareInterface(std::make_unique<FakeHardware>());
        return 0;
    }
    int32_t ServiceConnectToObject(ServiceOrder) override {
        RaiseProgress(0, 0, "ServiceConnectToObject: Start");
        RaiseTrace(0, "connect");
        return connectResult;
    }
    int32_t ServiceSingleRequest(ServiceOrder order) override {
        lastAddressMode = order.addressMode;
        if (order.request == "BLOCK" || order.request == kBlockingRequest) {
            return BlockUntilCancelled();
        }
        RaiseTrace(0, "   3 ms |" + order.request + "|" + answer + "|");
        ResultRecordForService().response = answer;
        return singleRequestResult;
    }
    int32_t ServiceUpload(ServiceOrder order) override {
        if (order.uploadHeader == "BLOCK") return WriteTextsAfterCancel();
        if (CEcu* ecu = AttachedEcu()) ecu->SetUploadText("[Header]|" + order.uploadHeader);
        return 0;
    }
    int32_t ServiceDownload(ServiceOrder order) override {
        lastDownload = order;
        return 0;
    }
    int32_t ServiceJob(ServiceOrder order) override {
        lastJob = order.job;
        return 0;
    }
    int32_t ServiceGetObjectInfo(ServiceOrder) override {
        if (blockIdent) return WriteTextsAfterCancel();
        if (CEcu* ecu = AttachedEcu()) ecu->SetIdentText("NAME=FAKE|");
        return 0;
    }

    // A cancelled service that goes on writing its texts for a while, as a stack does that
    // is between two exchanges when it is told to stop.
    int32_t WriteTextsAfterCancel() {
        BlockUntilCancelled();
        CEcu* ecu = AttachedEcu();
        for (int i = 0; ecu != nullptr && i < 2000; ++i) {
            ecu->SetIdentText("LATE=" + std::to_string(i) + "|");
            ecu->SetUploadText("[LATE]|" + std::to_string(i));
        }
        return kResultTimeout;
    }

    // Waits for the stop request of a timed-out ExecuteService (bounded, so a broken
    // engine fails the test instead of hanging it).
    int32_t BlockUntilCancelled() {
        blocked.store(true);
        const bool cancelled = Cancel().WaitFor(60000);
        blocked.store(false);
        return cancelled ? kResultTimeout : 0;
    }

    int32_t timeoutMs = 10000;
    int32_t connectResult = 0;
    int32_t singleRequestResult = 0;
    std::string answer = "62 F1 90";
    int32_t port = 0;
    bool failCreate = false;
    bool useKeepAlive = false;
    bool blockIdent = false;
    int32_t lastAddressMode = -1;
    std::string lastJob;
    ServiceOrder lastDownload;
    std::atomic<bool> blocked{false};
    // The newest instance, for tests that create it through the command interface.
    static inline FakeProtocol* lastCreated = nullptr;
    std::atomic<int> keepAlivePasses{0};
    std::atomic<int> keepAliveBusyMs{0};  // the next keep-alive pass takes this long
    std::atomic<bool> keepAliveBusy{false};
};

class FakeEcu : public CEcu {
  public:
    FakeEcu(CSoftwareInterface* communicationObject, const std::string& parameter)
        : CEcu(communicationObject) {
        SetCreated(true);
        InitIdent(kFakeEcuKeyword, kFakeKeyword);
        SetPermissions(true, true, true, true);
        if (ParseParameterString(parameter) < 0) SetCreated(false);
    }
    int32_t ParseParameterString(const std::string& text) override {
        return diagbridge::ParseParameterString(
            text, kFakeEcuKeyword,
            [this](const std::string& k, const std::string& v) { return SetParameter(k, v); });
    }
    int32_t SetParameter(const std::string& key, const std::string& value) override {
        if (key == "SERVICESINGLEREQUEST") {
            singleRequestAllowed_ = ReadSwitch(value);
        } else if (key == "SERVICEDOWNLOAD") {
            downloadAllowed_ = ReadSwitch(value);
        } else if (key == "SERVICEUPLOAD") {
            uploadAllowed_ = ReadSwitch(value);
        } else if (key == "SERVICEJOB") {
            jobAllowed_ = ReadSwitch(value);
        } else if (key == "DOWNLOADOPTION") {
            parameters_.downloadOption = static_cast<uint8_t>(ReadDecimal(value));
        } else if (key == "TIMEOUT_SERVICESINGLEREQUEST") {
            parameters_.uds.timeouts.singleRequest = ReadDecimal(value);
        } else {
            return kResultBadParameter;
        }
        return 0;
    }
    std::string GetParameterString() override {
        return std::string(kFakeEcuKeyword) + "|" + kFakeKeyword +
               "|SERVICESINGLEREQUEST=" + (SingleRequestAllowed() ? "1" : "0") + "|";
    }
    int32_t Connect() override { return ConnectThroughCommunicationObject(); }
};

inline std::unique_ptr<CSoftwareInterface> CreateFakeProtocol(IServiceEvents* events,
                                                              const std::string& parameter) {
    return std::make_unique<FakeProtocol>(events, parameter);
}

inline std::unique_ptr<CEcu> CreateFakeEcu(CSoftwareInterface* communicationObject,
                                           const std::string& parameter) {
    return std::make_unique<FakeEcu>(communicationObject, parameter);
}

}  // namespace diagbridge::testing
