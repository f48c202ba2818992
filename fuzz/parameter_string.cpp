// Parameter strings: every communication object and every ECU model family of the registries
// reads any creation string without harm, and the string it writes back reads back to the
// same string. The number readers keep their promises.
#include <cstdio>
#include <memory>

#include "component/ProtocolTable.h"
#include "ecu/CEcu.h"
#include "ecu/EcuTypeRegistry.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::Require;

// The creation text: the keyword itself, or the keyword and the input's parts.
std::string CreationText(const char* keyword, std::string_view input, bool raw) {
    return raw ? std::string(input) : std::string(keyword) + "|" + std::string(input);
}

void CheckCommunicationObjects(std::string_view input, bool raw) {
    for (const ProtocolRow& row : ProtocolTable()) {
        if (row.create == nullptr) continue;
        const auto first = row.create(nullptr, CreationText(row.keyword, input, raw));
        if (!first) continue;
        const std::string written = first->GetParameterString();
        const auto second = row.create(nullptr, written);
        Require(second != nullptr && second->GetParameterString() == written);
    }
}

void CheckEcuModels(std::string_view input, bool raw) {
    const std::vector<EcuTypeRow>& table = EcuTypeTable();
    for (const EcuTypeRow& row : table) {
        const std::string text = CreationText(row.keyword, input, raw);
        const auto first = CreateEcuObject(table, row.keyword, row.protocolCode, nullptr, text);
        if (!first) continue;
        const std::string written = first->GetParameterString();
        // The Luma family writes "LUMAXX|KWP2000|..." and refuses that as its own creation
        // string (a token without "="), as the model prescribes; every string a model does
        // take back must read back unchanged.
        const auto second = CreateEcuObject(table, row.keyword, row.protocolCode, nullptr, written);
        Require(second != nullptr);
        Require(!second->IsCreated() || second->GetParameterString() == written);
    }
}

void CheckNumbers(std::string_view input) {
    for (const std::string& token : SplitParameterTokens(input)) {
        Require(!token.empty() && token.find('|') == std::string::npos);
        uint32_t number = 0x5A5A5A5A;
        if (ReadHex(token, number)) {
            char text[16];
            std::snprintf(text, sizeof(text), "%X", static_cast<unsigned>(number));
            uint32_t again = 0;
            Require(ReadHex(text, again) && again == number);
        } else {
            Require(number == 0x5A5A5A5A);
        }
        uint32_t value = 0;
        ReadNumber(token, value);
        ReadDecimal(token);
        ReadSwitch(token);
        Require(StripBlanks(token).find(' ') == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0 || size > 512) return 0;
    const bool raw = (data[0] & 1) != 0;
    const std::string_view input = diagbridge::fuzz::AsText(data + 1, size - 1);
    CheckNumbers(input);
    CheckEcuModels(input, raw);
    if ((data[0] & 2) != 0) CheckCommunicationObjects(input, raw);
    return 0;
}
