// Diagnostic access of the KWP2000 communication object: tester address per OEM, diagnostic
// session with baud-rate switch, security access and timing parameters.
#include <algorithm>
#include <array>

#include "ecu/CEcu.h"
#include "ecu/KwpUploadValues.h"
#include "kwp2000/CSKwp2000.h"
#include "kwp2000/KwpText.h"
#include "kwp2000/KwpTiming.h"

namespace diagbridge {

namespace {
constexpr uint8_t kDefaultSession = 0x81;
constexpr uint8_t kNegativeId = 0x7F;
constexpr uint8_t kSecurityAnswer = 0x67;
constexpr uint8_t kInvalidKey = 0x35;
constexpr uint8_t kExceededAttempts = 0x36;
constexpr uint8_t kDelayNotExpired = 0x37;
constexpr std::size_t kNegativeLength = 3;
constexpr std::size_t kSeedLength = 4;
constexpr uint8_t kFirstOemTester = 0xF0;
constexpr int32_t kOwnBaudrateId = 6;
constexpr std::size_t kTimingCodeOffset = 2;
constexpr std::size_t kTimingAnswerLength = kTimingCodeOffset + KwpTimingTables::kParameterCount;

int32_t BaudrateId(int32_t baudrate) {
    switch (baudrate) {
        case 10400:
            return 0;
        case 9600:
            return 1;
        case 19200:
            return 2;
        case 38400:
            return 3;
        case 57600:
            return 4;
        case 115200:
            return 5;
        default:
            return kOwnBaudrateId;
    }
}

// The result of a negative answer to a security-access request.
int32_t SecurityRefusal(uint8_t code) {
    if (code == kInvalidKey || code == kExceededAttempts) return CSKwp2000::kKeyRefused;
    if (code == kDelayNotExpired) return CSKwp2000::kDelayNotExpired;
    return CSKwp2000::kNegativeResponse;
}

bool IsNegative(const std::vector<uint8_t>& answer) {
    return answer.size() >= kNegativeLength && answer[0] == kNegativeId;
}

const KwpTimingTables& TimingTables() {
    static const KwpTimingTables tables;
    return tables;
}
}  // namespace

int32_t CSKwp2000::ServiceSetDiagnosticAccess(ServiceOrder order) {
    if (order.predefinedSession != kExplicitAccess) return kResultNotPermitted;
    RaiseProgress(0, 0, "ServiceSetDiagnosticAccess: Start");
    if (HardwareInterface() == nullptr || AttachedEcu() == nullptr) return kResultFailure;
    const KwpParameterBlock& kwp = parameters_.kwp;
    if (order.specialTiming) {
        RaiseProgress(0, 10, "ServiceSetDiagnosticAccess: ReInit Device KWP2000 Timing");
        HardwareInterface()->HALSetTiming(kwp.p2Min, kwp.p2Max, kwp.p3Min, kwp.p3Max, kwp.p4Min);
    }
    const int32_t baudrateId = BaudrateId(order.baudrate);
    RaiseProgress(0, 20,
                  FormatText("ServiceSetDiagnosticAccess: InitOEMAccess[OEMID: %d]", order.oemId));
    int32_t result = InitOemAccess(order.oemId);
    if (result < 0) return result;
    const auto mode = static_cast<uint8_t>(order.diagnosticMode);
    RaiseProgress(0, 40,
                  FormatText("ServiceSetDiagnosticAccess: SetDiagnosticSession[DiagMode: "
                             "%X,BaudrateId: %d, Baudrate: %d]",
                             mode, baudrateId, order.baudrate));
    result = SetDiagnosticSession(mode, order.baudrate);
    if (result < 0) return result;
    RaiseProgress(0, 60,
                  FormatText("ServiceSetDiagnosticAccess: SetSecurityAccess:[DiagMode %x]", mode));
    result = SetSecurityAccess(mode);
    if (result >= 0 && order.specialTiming) {
        RaiseProgress(0, 80, "ServiceSetDiagnosticAccess: Use Special Timing");
        result = AccessTimingParameters();
    }
    RaiseProgress(0, 100, "ServiceSetDiagnosticAccess: Finished");
    return result;
}

int32_t CSKwp2000::InitOemAccess(int32_t oemId) {
    if (oemId < 0 || oemId >= static_cast<int32_t>(KwpParameterBlock::kOemTableSize)) {
        return kResultBadParameter;
    }
    KwpParameterBlock& kwp = parameters_.kwp;
    const uint8_t tester = kwp.oemTesterAddress[static_cast<std::size_t>(oemId)];
    if (tester < kFirstOemTester) return kResultOk;
    CHardwareInterface& hardware = *HardwareInterface();
    hardware.HALDisconnect();
    kwp.testerAddress = tester;
    hardware.HALSetAddress(kwp.testerAddress, kwp.ecuAddress);
    return hardware.HALConnect() < 0 ? kResultCommunication : kResultOk;
}

int32_t CSKwp2000::SetDiagnosticSession(uint8_t mode, int32_t baudrate) {
    const int32_t id = HardwareInterface()->HALAdjustBaudrateId(BaudrateId(baudrate));
    std::string request;
    if (id == 0) {
        request = FormatText("%02X %02X", 0x10, mode);
    } else if (id < kOwnBaudrateId) {
        request = FormatText("%02X %02X %02X", 0x10, mode, static_cast<unsigned>(id));
    } else {
        const auto baud = static_cast<uint32_t>(baudrate);
        request = FormatText("%02X %02X %02X %02X %02X %02X", 0x10, mode, kOwnBaudrateId,
                             (baud >> 16) & 0xFF, (baud >> 8) & 0xFF, baud & 0xFF);
    }
    std::string response;
    const int32_t result = DataTransfer(request, response, true, true);
    // No line speed of 0 or less exists: the line keeps its speed then.
    if (result == kResultOk && baudrate > 0) HardwareInterface()->HALSetBaudRate(baudrate);
    return result;
}

int32_t CSKwp2000::SetSecurityAccess(uint8_t mode) {
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    if (mode == kDefaultSession) return kResultOk;
    const std::string seedRequest = ecu->GetSeedRequest();
    if (seedRequest.empty()) return kResultOk;
    std::string response;
    const int32_t result = DataTransfer(seedRequest, response, false, true);
    if (result < 0) return result;
    const std::vector<uint8_t> answer = KwpBytes(response);
    if (IsNegative(answer)) return SecurityRefusal(answer[2]);
    if (answer.size() < kSeedLength || answer[0] != kSecurityAnswer) return kUnexpectedResponse;
    // A zero seed: the ECU is unlocked already.
    if (answer[2] == 0 && answer[3] == 0) return kResultOk;
    return SendKey(*ecu, mode, answer);
}

int32_t CSKwp2000::SendKey(CEcu& ecu, uint8_t mode, const std::vector<uint8_t>& seedAnswer) {
    const int32_t seed = seedAnswer[2] * 256 + seedAnswer[3];
    // The KWP2000 models take the diagnostic mode first, then the seed.
    const std::string keyRequest = ecu.GetKeyRequest(mode, seed);
    if (keyRequest.empty()) return kResultFailure;
    std::string response;
    const int32_t result = DataTransfer(keyRequest, response, false, true);
    if (result < 0) return result;
    const std::vector<uint8_t> answer = KwpBytes(response);
    if (IsNegative(answer)) return SecurityRefusal(answer[2]);
    return !answer.empty() && answer[0] == kSecurityAnswer ? kResultOk : kUnexpectedResponse;
}

int32_t CSKwp2000::AccessTimingParameters() {
    const KwpParameterBlock& kwp = parameters_.kwp;
    const std::array<int32_t, KwpTimingTables::kParameterCount> wishes = {
        kwp.p2Min, kwp.p2Max, kwp.p3Min, kwp.p3Max, kwp.p4Min};
    std::string response;
    int32_t result = DataTransfer("83 00", response, true, true);
    if (result < 0) return result;
    const std::vector<uint8_t> limits = KwpBytes(response);
    if (limits.size() < kTimingAnswerLength) return kUnexpectedResponse;
    const KwpTimingTables& tables = TimingTables();
    std::array<uint8_t, KwpTimingTables::kParameterCount> codes{};
    for (std::size_t p = 0; p < codes.size(); ++p) {
        const auto parameter = static_cast<KwpTimingTables::Parameter>(p);
        const auto limit =
            static_cast<int32_t>(tables.Ms(parameter, limits[kTimingCodeOffset + p]));
        const int32_t clamped = KwpTimingTables::IsMinimum(parameter) ? std::max(wishes[p], limit)
                                                                      : std::min(wishes[p], limit);
        codes[p] = tables.Encode(parameter, clamped);
    }
    const std::string timing =
        FormatText("%02X %02X %02X %02X %02X", codes[0], codes[1], codes[2], codes[3], codes[4]);
    result =
        DataTransfer(FormatText("%02X %02X %s", 0x83, 0x03, timing.c_str()), response, true, true);
    if (result < 0) return result;
    result = DataTransfer("83 02", response, true, true);
    if (result < 0) return result;
    const std::vector<uint8_t> current = KwpBytes(response);
    if (current.size() >= kTimingAnswerLength &&
        std::equal(codes.begin(), codes.end(), current.begin() + kTimingCodeOffset)) {
        HardwareInterface()->HALUseTiming(
            static_cast<int32_t>(tables.Ms(KwpTimingTables::kP2Min, codes[0])),
            static_cast<int32_t>(tables.Ms(KwpTimingTables::kP2Max, codes[1])),
            static_cast<int32_t>(tables.Ms(KwpTimingTables::kP3Min, codes[2])),
            static_cast<int32_t>(tables.Ms(KwpTimingTables::kP3Max, codes[3])),
            static_cast<int32_t>(tables.Ms(KwpTimingTables::kP4Min, codes[4])));
        return kResultOk;
    }
    // The ECU did not take the timing: back to its defaults; the session stays open.
    RaiseProgress(0, 80,
                  FormatText("ServiceSetDiagnosticAccess: Special Timing rejected: set [%s], "
                             "read back [%s]",
                             timing.c_str(), response.c_str()));
    result = DataTransfer("83 01", response, true, true);
    if (result == kResultOk) {
        HardwareInterface()->HALUseTiming(kwp.p2Min, kwp.p2Max, kwp.p3Min, kwp.p3Max, kwp.p4Min);
    }
    return result;
}

}  // namespace diagbridge
