#pragma once
// A KWP2000 communication object (protocol code 1) that stands in for the real stack: it
// records what a model hands over at connect and asks the attached model for its access
// requests, as the stack does.
#include <string>

#include "ecu/CEcu.h"
#include "engine/CSoftwareInterface.h"

namespace diagbridge::testing {

class KwpStandIn : public CSoftwareInterface {
  public:
    KwpStandIn() : CSoftwareInterface(nullptr, kProtocolKwp2000) {}
    ~KwpStandIn() override { StopWorker(); }

    int32_t GetServiceTimeout() override {
        lastTimeoutMs = parameters_.kwp.timeouts.ForCommand(CurrentOrder().command);
        return lastTimeoutMs;
    }
    // Records the block it was given; when told, reports the ECU found under entry foundAt.
    int32_t ServiceConnectToObject(ServiceOrder) override {
        handedOver = parameters_;
        if (foundAt >= 0) {
            KwpParameterBlock& kwp = parameters_.kwp;
            KwpAddressEntry& entry = kwp.addressTable[static_cast<std::size_t>(foundAt)];
            entry.found = 1;
            entry.hardwareVersion = "LUMA HW";
            kwp.foundEntry = foundAt;
            kwp.ecuAddress = entry.ecuAddress;
            kwp.testerAddress = entry.testerAddress;
        }
        return connectResult;
    }
    int32_t ServiceSetDiagnosticAccess(ServiceOrder order) override {
        CEcu* ecu = AttachedEcu();
        if (ecu == nullptr) return kResultFailure;
        seedRequest = ecu->GetSeedRequest();
        keyRequest = ecu->GetKeyRequest(order.diagnosticMode, seed);
        return 0;
    }
    int32_t ServiceSingleRequest(ServiceOrder) override { return 0; }

    EcuParameterBlock handedOver;
    int32_t connectResult = 0;
    int foundAt = -1;
    int32_t seed = 0;
    std::string seedRequest;
    std::string keyRequest;
    int32_t lastTimeoutMs = 0;
};

}  // namespace diagbridge::testing
