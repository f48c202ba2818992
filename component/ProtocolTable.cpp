#include "component/ProtocolTable.h"

#include "engine/CSoftwareInterface.h"
#include "uds/CSUdsIso14229.h"

namespace diagbridge {

const std::vector<ProtocolRow>& ProtocolTable() {
    static const std::vector<ProtocolRow> table = {
        {"UDS_ISO_14229", kProtocolUds, "CSUdsIso14229", &CreateUdsCommunicationObject},
        {"KWP2000", kProtocolKwp2000, "CSKwp2000", nullptr},
        {"KALIDOR", kProtocolKalidor, "CSKalidor", nullptr},
        {"ISO_9141", kProtocolIso9141, "CST40", nullptr},
    };
    return table;
}

ObjectRegistry DefaultObjectRegistry() {
    return ObjectRegistry{ProtocolTable(), EcuTypeTable()};
}

}  // namespace diagbridge
