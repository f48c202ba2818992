#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ecu/EcuTypeRegistry.h"

namespace diagbridge {

class CSoftwareInterface;
class IServiceEvents;

// Builds one communication object from the whole creation string; events is where its
// progress, status and trace events go.
using CommunicationObjectFactory =
    std::unique_ptr<CSoftwareInterface> (*)(IServiceEvents* events, const std::string& parameter);

// One protocol keyword; create is null while its stack is not built.
struct ProtocolRow {
    const char* keyword;  // exact, case-sensitive
    int32_t protocolCode;
    const char* className;
    CommunicationObjectFactory create;
};

const std::vector<ProtocolRow>& ProtocolTable();

// What the command interface can create: the protocol keywords and the ECU type keywords.
struct ObjectRegistry {
    std::vector<ProtocolRow> protocols;
    std::vector<EcuTypeRow> ecuTypes;
};

// The component's own tables.
ObjectRegistry DefaultObjectRegistry();

}  // namespace diagbridge
