// Parameters, request exchange, keep-alive, creation, connect, single request and job of the
// KWP2000 communication object.
#include "kwp2000/CSKwp2000.h"

#include <algorithm>

#include "ecu/CEcu.h"
#include "ecu/KwpUploadValues.h"
#include "engine/ParameterString.h"
#include "kwp2000/KwpText.h"
#include "platform/SystemInfo.h"

namespace diagbridge {

namespace {
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegativeId = 0x7F;
constexpr std::size_t kMaxRequestBytes = 255;
constexpr uint8_t kHardwareVersionOption = 0x93;
}  // namespace

CSKwp2000::CSKwp2000(IServiceEvents* events, const std::string& parameter)
    : CSoftwareInterface(events, kProtocolKwp2000),
      today_([] { return platform::TodayIsoDate(); }) {
    keepAliveIntervalMs_ = interface_.testerPresentMs;
    AcceptParameterString(parameter);
}

CSKwp2000::~CSKwp2000() {
    StopWorker();
}

std::unique_ptr<CSoftwareInterface> CreateKwp2000CommunicationObject(IServiceEvents* events,
                                                                     const std::string& parameter) {
    return std::make_unique<CSKwp2000>(events, parameter);
}

CHKwp2000* CSKwp2000::Hardware() const {
    return static_cast<CHKwp2000*>(HardwareInterface());
}

void CSKwp2000::UseContainers(CHKwp2000::ContainerFactory makeContainers) {
    makeContainers_ = std::move(makeContainers);
}

void CSKwp2000::UseDateSource(std::function<std::string()> today) {
    today_ = std::move(today);
}

// ---------------------------------------------------------------- parameters

int32_t CSKwp2000::GetServiceTimeout() {
    return parameters_.kwp.timeouts.ForCommand(CurrentOrder().command);
}

std::string CSKwp2000::GetParameterString() {
    return kKeyword +
           FormatText("|RS232=%d|SAMTECUSB=%d|SKYLINK=%d|BAUDRATE=%d|TESTERPRESENT=%d",
                      interface_.rs232Port, interface_.samtecUsb ? 1 : 0, interface_.skyLinkPort,
                      interface_.baudrate, interface_.testerPresentMs) +
           CommonParameterString();
}

int32_t CSKwp2000::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, kKeyword, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

int32_t CSKwp2000::SetParameter(const std::string& key, const std::string& value) {
    if (key.empty()) return 0;
    const std::string stripped = StripBlanks(value);
    if (SetCommonParameter(key, stripped)) return 0;
    const int32_t number = ReadDecimal(stripped);
    if (key == "RS232") {
        interface_.rs232Port = number;
    } else if (key == "SAMTECUSB") {
        interface_.samtecUsb = number > 0;
    } else if (key == "SKYLINK") {
        interface_.skyLinkPort = number;
    } else if (key == "SKYLINKINIT") {
        interface_.skyLinkInit = number;
    } else if (key == "BAUDRATE") {
        interface_.baudrate = number;
    } else if (key == "TESTERPRESENT") {
        interface_.testerPresentMs = number;
        keepAliveIntervalMs_ = number;
    } else if (key == "TIMEOUT_RS232") {
        interface_.rs232TimeoutMs = number;
    } else if (key == "TIMEOUT_SKYLINK") {
        interface_.skyLinkTimeoutMs = number;
    } else {
        return kResultBadParameter;
    }
    return 0;
}

// ---------------------------------------------------------------- exchange

int32_t CSKwp2000::DataTransfer(const std::string& request, std::string& response) {
    return DataTransfer(request, response, true, true);
}

int32_t CSKwp2000::DataTransfer(const std::string& request, std::string& response, bool check,
                                bool trace) {
    const std::vector<uint8_t> bytes = KwpBytes(request);
    if (bytes.empty() || bytes.size() > kMaxRequestBytes) {
        if (trace) RaiseTrace(0, "ERROR Datatransfer [" + request + "]: Invalid request");
        return kResultBadParameter;
    }
    const int32_t transferred = TimedTransfer(request, response, trace);
    if (transferred != kResultOk || !check) return transferred;
    const std::vector<uint8_t> answer = KwpBytes(response);
    if (answer.empty()) return kUnexpectedResponse;
    if (answer[0] == static_cast<uint8_t>(bytes[0] + kPositiveOffset)) return kResultOk;
    return answer[0] == kNegativeId ? kNegativeResponse : kUnexpectedResponse;
}

// ---------------------------------------------------------------- keep-alive

int32_t CSKwp2000::SetKeepAlive(int32_t phase) {
    KeepAlivePhase(phase);
    return 0;
}

int32_t CSKwp2000::ServiceKeepAlive() {
    if (HardwareInterface() == nullptr) return kResultFailure;
    if (keepAliveIntervalMs_ <= 0) return kResultNothingDue;
    const uint32_t now = platform::Clock().TickMs();
    if (platform::ElapsedMs(lastKeepAliveTick_, now) <
        static_cast<uint32_t>(keepAliveIntervalMs_)) {
        return kResultNothingDue;
    }
    lastKeepAliveTick_ = now;
    if (StatusCode() != kStatusConnected) return kResultNothingDue;
    return HardwareInterface()->HALTesterPresent();
}

uint32_t CSKwp2000::PassPauseMs() const {
    if (CurrentOrder().command != kCommandKeepAlive || keepAliveIntervalMs_ <= 0) {
        return kPassPauseMs;
    }
    const uint32_t elapsed = platform::ElapsedMs(lastKeepAliveTick_, platform::Clock().TickMs());
    const auto interval = static_cast<uint32_t>(keepAliveIntervalMs_);
    const uint32_t remaining = elapsed < interval ? interval - elapsed : 0;
    return std::clamp(remaining, kPassPauseMs, kMaxKeepAlivePauseMs);
}

// ---------------------------------------------------------------- create and connect

int32_t CSKwp2000::ServiceCreateHWObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceCreateHWObject: Start");
    if (HardwareInterface() == nullptr) {
        if (makeContainers_) {
            SetHardwareInterface(
                std::make_unique<CHKwp2000>(parameters_, interface_, makeContainers_));
        } else {
            SetHardwareInterface(std::make_unique<CHKwp2000>(parameters_, interface_, &Cancel()));
        }
    }
    if (!HardwareInterface()->DevicePresent()) SetHardwareInterface(nullptr);
    if (HardwareInterface() == nullptr) {
        RaiseProgress(0, 50, "ServiceCreateHWObject: Error Create CHKwp2000");
        return kResultFailure;
    }
    RaiseProgress(0, 50, "ServiceCreateHWObject: Initialise Device");
    HardwareInterface()->HALInit();
    RaiseProgress(0, 100, "ServiceCreateHWObject: Finished");
    return kResultOk;
}

int32_t CSKwp2000::ServiceConnectToObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceConnectToObject: Start");
    if (HardwareInterface() == nullptr) {
        RaiseProgress(0, 10, "ServiceConnectToObject: Error No HW Object detected");
        return kResultFailure;
    }
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    const int32_t result = DetectAndConnect(*ecu);
    if (result == kResultCommunication) return result;
    RaiseProgress(0, 100, "ServiceConnectToObject: finished");
    return result;
}

int32_t CSKwp2000::DetectAndConnect(CEcu& ecu) {
    CHKwp2000& hardware = *Hardware();
    hardware.HALDisconnect();
    hardware.SetConfiguration(parameters_);
    KwpParameterBlock& kwp = parameters_.kwp;
    const int32_t entries =
        std::clamp<int32_t>(kwp.addressCount, 0, KwpParameterBlock::kAddressTableSize);
    std::string list;
    for (int32_t i = 0; i < entries; ++i) {
        const KwpAddressEntry& entry = kwp.addressTable[static_cast<std::size_t>(i)];
        list += FormatText("[0x%2Xh, 0x%2Xh],", entry.testerAddress, entry.ecuAddress);
    }
    RaiseProgress(0, 30, "ServiceConnectToObject: Scan Device: " + list);
    if (hardware.HALDetectEcu() < 0) {
        RaiseProgress(0, 40, "ServiceConnectToObject: No ECU found");
        return kResultCommunication;
    }
    kwp = hardware.Configuration().kwp;
    RaiseProgress(0, 40, "ServiceConnectToObject: Connected Device: " + hardware.HardwareText());
    for (int32_t i = 0; i < entries; ++i) {
        const KwpAddressEntry& entry = kwp.addressTable[static_cast<std::size_t>(i)];
        if (entry.found != 1) continue;
        RaiseProgress(
            0, 40,
            FormatText("ServiceConnectToObject: ECU %s found at: [0x%2Xh, 0x%2Xh]",
                       entry.hardwareVersion.c_str(), entry.ecuAddress, entry.testerAddress));
    }
    if (hardware.HALConnect() < 0) {
        RaiseProgress(
            0, 60,
            FormatText("ServiceConnectToObject: Connection failed to ECU: [0x%2Xh, 0x%2Xh]",
                       kwp.ecuAddress, kwp.testerAddress));
        return kResultCommunication;
    }
    RaiseProgress(0, 70,
                  FormatText("ServiceConnectToObject: Connected to ECU: [0x%2Xh, 0x%2Xh]",
                             kwp.ecuAddress, kwp.testerAddress));
    if (!ecu.MatchObjectType(ReadEcuIdent(kHardwareVersionOption))) {
        RaiseProgress(0, 90, "ServiceConnectToObject: IdentCheck failed");
        hardware.HALDisconnect();
        return kResultConnectionLost;
    }
    RaiseProgress(0, 90, "ServiceConnectToObject: IdentCheck OK");
    return kResultOk;
}

// ---------------------------------------------------------------- single request and job

int32_t CSKwp2000::ServiceSingleRequest(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceSingleRequest: Start");
    std::string& response = ResultRecordForService().response;
    response.clear();
    const int32_t result = DataTransfer(order.request, response);
    RaiseProgress(0, 100, "ServiceSingleRequest: Finished");
    return result;
}

int32_t CSKwp2000::ServiceJob(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceJob: Start");
    RaiseProgress(0, 100, "ServiceJob: Finished");
    return kResultOk;
}

}  // namespace diagbridge
