#include "component/ProtocolTable.h"

#include "engine/CSoftwareInterface.h"
#include "kwp2000/CSKwp2000.h"
#include "t40kalidor/CSKalidor.h"
#include "t40kalidor/CST40.h"
#include "uds/CSUdsIso14229.h"

namespace diagbridge {

const std::vector<ProtocolRow>& ProtocolTable() {
    static const std::vector<ProtocolRow> table = {
        {"UDS_ISO_14229", kProtocolUds, "CSUdsIso14229", &CreateUdsCommunicationObject},
        {"KWP2000", kProtocolKwp2000, "CSKwp2000", &CreateKwp2000CommunicationObject},
        {"KALIDOR", kProtocolKalidor, "CSKalidor", &CreateKalidorCommunicationObject},
        {"ISO_9141", kProtocolIso9141, "CST40", &CreateT40CommunicationObject},
    };
    return table;
}

ObjectRegistry DefaultObjectRegistry() {
    return ObjectRegistry{ProtocolTable(), EcuTypeTable()};
}

}  // namespace diagbridge
