#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace diagbridge {

class CEcu;
class CSoftwareInterface;

// Builds one ECU model on a communication object from the whole creation string.
using EcuFactory = std::unique_ptr<CEcu> (*)(CSoftwareInterface* communicationObject,
                                             const std::string& parameter);

// One row of the type registry; create is null while the model is not built.
struct EcuTypeRow {
    const char* keyword;  // exact, case-sensitive
    int32_t protocolCode;
    const char* className;
    EcuFactory create;
};

// All type keywords, in the order they are tested.
const std::vector<EcuTypeRow>& EcuTypeTable();

// Creates the model of the first row matching keyword and protocolCode; null when no row
// matches or its model is not built.
std::unique_ptr<CEcu> CreateEcuObject(const std::vector<EcuTypeRow>& table,
                                      const std::string& keyword, int32_t protocolCode,
                                      CSoftwareInterface* communicationObject,
                                      const std::string& parameter);

}  // namespace diagbridge
