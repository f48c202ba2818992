#pragma once
// A UDS communication object on a scripted container, and a small UDS model, so the
// service sequences can be checked request by request without a bus.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/CDeviceContainer.h"
#include "ecu/CEcu.h"
#include "platform/Clock.h"
#include "support/EventRecorder.h"
#include "uds/CSUdsIso14229.h"

namespace diagbridge::testing {

// Answers each request with what respond returns; "FAIL" makes the exchange fail.
class ScriptedUdsContainer : public CDeviceContainer {
  public:
    using Responder = std::function<std::string(const std::string& request)>;
    ScriptedUdsContainer(std::vector<std::pair<int32_t, std::string>>& sent, Responder respond)
        : CDeviceContainer(EcuParameterBlock{}, InterfaceSettings{}),
          sent_(sent),
          respond_(std::move(respond)) {
        description = "SCRIPTED";
    }
    int32_t DevTransferDataEx(int32_t addressMode, std::string request,
                              std::string& response) override {
        sent_.emplace_back(addressMode, request);
        const std::string answer = respond_(request);
        if (answer == "FAIL") return -1;
        response = answer;
        return 0;
    }

  private:
    std::vector<std::pair<int32_t, std::string>>& sent_;
    Responder respond_;
};

// The positive response of a UDS ECU that accepts everything: service id + 0x40 and the
// request's next two bytes.
inline std::string PositiveEcho(const std::string& request) {
    if (request.size() < 2) return "7F 00 13";
    const int service = std::stoi(request.substr(0, 2), nullptr, 16);
    char head[4];
    std::snprintf(head, sizeof(head), "%02X", service + 0x40);
    return std::string(head) + request.substr(2, 6);
}

class TestUdsEcu : public CEcu {
  public:
    explicit TestUdsEcu(CSoftwareInterface* communicationObject) : CEcu(communicationObject) {
        SetCreated(true);
        InitIdent("TEST_UDS", "UDS_ISO_14229");
        SetPermissions(true, true, true, true);
        const AccessStep steps[] = {
            {"10 01", "", "", {"", "", ""}, 0, 0, true, 0},
            {"10 01", "", "", {"2E FE FF 01", "", "2E FE FF 02"}, 0, 0, true, 0},
            {"10 02", "27 61", "27 62", {"2E FE FE 01", "", "2E FE FE 02"}, 3, 5, true, 0},
            {"10 03", "27 61", "27 62", {"2E FE FE 01", "", "2E FE FE 02"}, 7, 11, true, 0},
            {"10 40", "27 61", "27 62", {"2E FE FE 01", "", ""}, 0, 0, false, 0},
        };
        for (const AccessStep& step : steps)
            accessTable_[static_cast<std::size_t>(accessCount_++)] = step;
        parameters_.uds.requestId = 0x18DA33F1;
        parameters_.uds.responseId = 0x18DAF133;
    }
    std::string BuildAccessRequest(const AccessStep& step, const std::string& /*seed*/) override {
        return step.keyRequestPrefix + " 12 34";
    }
    std::string BuildMemorySection() override {
        return "[FRAM]|" + std::to_string(uploadData_.memoryLines.size()) + " lines|";
    }
    int32_t Connect() override { return ConnectThroughCommunicationObject(); }
};

// One UDS object with a scripted container and a connected test model.
class UdsStackFixture {
  public:
    explicit UdsStackFixture(ScriptedUdsContainer::Responder respond = PositiveEcho)
        : clock_(), scoped_(clock_), object_(&events, "UDS_ISO_14229|VECTOR=1|PROGRESS=1|TRACE=1") {
        object_.UseContainer([this, respond](const EcuParameterBlock&, const UdsInterfaceSettings&,
                                             platform::CancelFlag*) {
            return std::make_unique<ScriptedUdsContainer>(sent, respond);
        });
        ecu = std::make_unique<TestUdsEcu>(&object_);
    }
    ~UdsStackFixture() {
        ecu.reset();  // detaches from the communication object, which must still exist
        object_.StopWorker();
    }

    int32_t Run(int32_t command, const std::function<void(ServiceOrder&)>& fill = {}) {
        ServiceOrder order;
        order.command = command;
        if (fill) fill(order);
        return command == kCommandConnect ? object_.ExecuteService(order, ecu.get())
                                          : ecu->RunService(order);
    }
    int32_t CreateAndConnect() {
        if (Run(kCommandCreateHWObject) != 0) return -999;
        return Run(kCommandConnect);
    }
    std::vector<std::string> Requests() const {
        std::vector<std::string> texts;
        for (const auto& [mode, text] : sent) texts.push_back(text);
        return texts;
    }
    std::vector<std::string> ProgressTexts() {
        std::vector<std::string> texts;
        for (const auto& e : events.OfKind("progress")) texts.push_back(e.text);
        return texts;
    }

    std::vector<std::pair<int32_t, std::string>> sent;
    EventRecorder events;
    std::unique_ptr<TestUdsEcu> ecu;
    CSUdsIso14229& Object() { return object_; }

  private:
    platform::ManualClock clock_;
    platform::ScopedClock scoped_;
    CSUdsIso14229 object_;
};

}  // namespace diagbridge::testing
