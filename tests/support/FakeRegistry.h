#pragma once
#include "component/ProtocolTable.h"
#include "support/FakeProtocol.h"

namespace diagbridge::testing {

// The component's tables plus the fake protocol (code 2, like UDS) and its ECU model.
inline ObjectRegistry FakeRegistry() {
    ObjectRegistry registry = DefaultObjectRegistry();
    registry.protocols.push_back({kFakeKeyword, kProtocolUds, "FakeProtocol", &CreateFakeProtocol});
    registry.ecuTypes.push_back({kFakeEcuKeyword, kProtocolUds, "FakeEcu", &CreateFakeEcu});
    registry.ecuTypes.push_back({"FAKE_KWP_ONLY", kProtocolKwp2000, "FakeEcu", &CreateFakeEcu});
    return registry;
}

}  // namespace diagbridge::testing
