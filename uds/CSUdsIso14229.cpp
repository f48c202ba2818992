#include "uds/CSUdsIso14229.h"

#include <cstdio>

#include "can/CDCVectorUds.h"
#include "ecu/CEcu.h"
#include "engine/CConvert.h"
#include "engine/ParameterString.h"
#include "uds/CHUdsIso14229.h"

namespace diagbridge {

namespace {
constexpr uint32_t kCreatePauseMs = 500;
constexpr uint32_t kAccessPauseMs = 1000;
constexpr int32_t kPhysical = 0;
// The longest message one ISO-TP exchange carries (12-bit length).
constexpr std::size_t kMaxRequestBytes = 4095;
constexpr const char* kEvoBusIdentRequest = "22 FE FD";
constexpr const char* kEvoBusMarker = "03";
// The access step whose key constants the EVO bus workaround gives to the programming
// session (entry 2): those of the extended diagnostic session (entry 3).
constexpr int32_t kEvoProgrammingEntry = 2;
constexpr int32_t kEvoExtendedEntry = 3;
constexpr int32_t kEvoFingerprintEntries = 4;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

CSUdsIso14229::CSUdsIso14229(IServiceEvents* events, const std::string& parameter)
    : CSoftwareInterface(events, kProtocolUds) {
    AcceptParameterString(parameter);
}

CSUdsIso14229::~CSUdsIso14229() {
    StopWorker();
}

std::unique_ptr<CSoftwareInterface> CreateUdsCommunicationObject(IServiceEvents* events,
                                                                 const std::string& parameter) {
    return std::make_unique<CSUdsIso14229>(events, parameter);
}

CHUdsIso14229* CSUdsIso14229::Hardware() const {
    return static_cast<CHUdsIso14229*>(HardwareInterface());
}

void CSUdsIso14229::UseContainer(
    std::function<std::unique_ptr<CDeviceContainer>(
        const EcuParameterBlock&, const UdsInterfaceSettings&, platform::CancelFlag*)>
        makeContainer) {
    makeContainer_ = std::move(makeContainer);
}

// ---------------------------------------------------------------- parameters

int32_t CSUdsIso14229::GetServiceTimeout() {
    return parameters_.uds.timeouts.ForCommand(CurrentOrder().command);
}

std::string CSUdsIso14229::GetParameterString() {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "|BAUDRATE=%d|TERMINATION=%d|BUS=%d|DEVICE=%d|DIRECTFRAME=%d|FRAME=%d",
                  interface_.bitRate, interface_.termination, interface_.bus, interface_.device,
                  interface_.directFrame, interface_.frame);
    return kKeyword + std::string(text) + CommonParameterString();
}

int32_t CSUdsIso14229::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, kKeyword, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

int32_t CSUdsIso14229::SetParameter(const std::string& key, const std::string& value) {
    if (key.empty()) return 0;
    if (SetCommonParameter(key, value)) return 0;
    const std::string stripped = StripBlanks(value);
    if (key == "SAMTECUSB") {
        interface_.samtecUsb = ReadSwitch(stripped);
        if (interface_.samtecUsb) interface_.vector = false;
    } else if (key == "VECTOR") {
        interface_.vector = ReadSwitch(stripped);
        if (interface_.vector) interface_.samtecUsb = false;
    } else if (key == "BAUDRATE") {
        interface_.bitRate = ReadDecimal(stripped);
    } else if (key == "TERMINATION") {
        interface_.termination = ReadDecimal(stripped);
    } else if (key == "BUS") {
        interface_.bus = ReadDecimal(stripped);
    } else if (key == "DEVICE") {
        interface_.device = ReadDecimal(stripped);
    } else if (key == "DIRECTFRAME") {
        interface_.directFrame = ReadDecimal(stripped);
    } else if (key == "FRAME") {
        interface_.frame = ReadDecimal(stripped);
    } else {
        return kResultBadParameter;
    }
    return 0;
}

void CSUdsIso14229::AfterService(int32_t command) {
    if (command == kCommandSetDiagnosticAccess) PauseMs(kAccessPauseMs);
}

// ---------------------------------------------------------------- exchange

int32_t CSUdsIso14229::ExtDataTransfer(int32_t addressMode, const std::string& request,
                                       std::string& response) {
    return Exchange(addressMode, request, response, true, true);
}

int32_t CSUdsIso14229::Exchange(int32_t addressMode, const std::string& request,
                                std::string& response, bool checkNegative, bool trace) {
    char line[256];
    if (HardwareInterface() == nullptr) {
        std::snprintf(line, sizeof(line), "ERROR Datatransfer [%s]: Hardware device failed",
                      request.c_str());
        if (trace) RaiseTrace(0, line);
        return kResultFailure;
    }
    if (IsCancelled()) return kResultTimeout;
    uint8_t bytes[kMaxRequestBytes];
    std::size_t stored = 0;
    if (HexStringToBytes(request, bytes, sizeof(bytes), stored) < 0) {
        if (trace) RaiseTrace(0, "ERROR Datatransfer [" + request + "]: request not sendable");
        return kResultBadParameter;
    }
    const uint32_t start = platform::Clock().TickMs();
    const int32_t result = HardwareInterface()->HALTransferDataEx(addressMode, request, response);
    const uint32_t elapsed = platform::Clock().TickMs() - start;
    int32_t outcome = kResultOk;
    std::string text;
    if (result < 0) {
        text = "ERROR Datatransfer [" + request + " | " + response + "]:";
        outcome = kResultCommunication;
    } else {
        std::snprintf(line, sizeof(line), "%4.3d ms |", static_cast<int>(elapsed));
        text = line + request + "|" + response;
        if (checkNegative && response.rfind("7F", 0) == 0) outcome = kNegativeResponse;
    }
    if (trace) RaiseTrace(0, text);
    return outcome;
}

// ---------------------------------------------------------------- create and connect

int32_t CSUdsIso14229::ServiceCreateHWObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceCreateHWObject UDS ISO14229: Start");
    if (HardwareInterface() == nullptr) {
        std::unique_ptr<CHUdsIso14229> hardware;
        if (makeContainer_) {
            hardware = std::make_unique<CHUdsIso14229>(
                parameters_, interface_, makeContainer_(parameters_, interface_, &Cancel()));
        } else {
            hardware = std::make_unique<CHUdsIso14229>(parameters_, interface_, &Cancel());
        }
        SetHardwareInterface(std::move(hardware));
    }
    if (!Hardware()->HardwareReady()) SetHardwareInterface(nullptr);
    if (HardwareInterface() == nullptr) {
        RaiseProgress(0, 50, "ServiceCreateHWObject: Error Create UDS ISO14229");
        return kResultFailure;
    }
    RaiseProgress(0, 50, "ServiceCreateHWObject: Init HW");
    HardwareInterface()->HALInit();
    PauseMs(kCreatePauseMs);
    RaiseProgress(0, 100, "ServiceCreateHWObject: Finished");
    return kResultOk;
}

int32_t CSUdsIso14229::ServiceConnectToObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceConnectToObject: Start");
    if (HardwareInterface() == nullptr) {
        RaiseProgress(0, 0, "ServiceConnectToObject: Error No HW Object detected");
        return kResultFailure;
    }
    RaiseProgress(0, 30, "ServiceConnectToObject: Initialise Communication");
    Hardware()->SetConfiguration(parameters_);
    Hardware()->HALDisconnect();
    if (interface_.bitRate == 0) {
        RaiseProgress(0, 30, "ServiceConnectToObject: Start Baudrate Detection");
        const uint32_t start = platform::Clock().TickMs();
        const int32_t detected = Hardware()->HALCheckConnection();
        if (detected < 0) {
            RaiseProgress(0, 60, "ServiceConnectToObject: Error Baudrate Detection failed");
            return kResultFailure;
        }
        char text[128];
        std::snprintf(text, sizeof(text), "ServiceConnectToObject: Baudrate detected: %d Baud",
                      detected);
        RaiseProgress(0, 40, text);
        std::snprintf(text, sizeof(text),
                      "ServiceConnectToObject: Baudrate Detection finished after %2.f sec",
                      (platform::Clock().TickMs() - start) / 1000.0);
        RaiseProgress(0, 50, text);
    }
    RaiseProgress(0, 60, "ServiceConnectToObject: Start Communication");
    int32_t result = Hardware()->HALConnect();
    if (result < 0) {
        RaiseProgress(0, 60, "ServiceConnectToObject: Error Start Communication failed");
        return result;
    }
    if (CEcu* ecu = AttachedEcu()) result = WriteTesterFingerprint(*ecu, result);
    RaiseProgress(0, 100, "ServiceConnectToObject: finished");
    return result;
}

int32_t CSUdsIso14229::WriteTesterFingerprint(CEcu& /*ecu*/, int32_t connectResult) {
    const UdsParameterBlock& uds = parameters_.uds;
    if (uds.noFingerprint) {
        RaiseProgress(0, 75, "ServiceConnectToObject: Connected without Fingerprint!!");
        return connectResult;
    }
    if (uds.fingerprint60.empty()) return connectResult;
    std::string response;
    int32_t result = ExtDataTransfer(kPhysical, uds.fingerprint60, response);
    if (result == 0) {
        RaiseProgress(0, 70, "ServiceConnectToObject: Write Orlan Tester Fingerprint [60 Byte] OK");
        return result;
    }
    RaiseProgress(0, 70, "ServiceConnectToObject: Write Orlan Tester Fingerprint [60 Byte] failed");
    if (uds.fingerprint25.empty()) return result;
    result = ExtDataTransfer(kPhysical, uds.fingerprint25, response);
    if (result != 0) {
        RaiseProgress(0, 75,
                      "ServiceConnectToObject: Write Orlan Tester Fingerprint [25 Byte] failed");
        return result;
    }
    RaiseProgress(0, 75, "ServiceConnectToObject: Write Orlan Tester Fingerprint [25 Byte] OK");
    result = ExtDataTransfer(kPhysical, kEvoBusIdentRequest, response);
    if (EndsWith(response, kEvoBusMarker) && AttachedEcu() != nullptr) {
        ApplyEvoBusWorkaround(*AttachedEcu());
    }
    return result;
}

void CSUdsIso14229::ApplyEvoBusWorkaround(CEcu& ecu) {
    RaiseProgress(0, 75, "ServiceConnectToObject: Enable EVO Bus Workaround");
    RaiseProgress(0, 76,
                  "ServiceConnectToObject: Seed Ecu Parameter: Programming Session = Extended "
                  "Diagnostic Session");
    AccessStep* programming = ecu.Access(kEvoProgrammingEntry);
    const AccessStep* extended = ecu.Access(kEvoExtendedEntry);
    if (programming != nullptr && extended != nullptr) {
        programming->keyMultiplier = extended->keyMultiplier;
        programming->keyAddend = extended->keyAddend;
    }
    for (int32_t i = 1; i <= kEvoFingerprintEntries; ++i) {
        AccessStep* step = ecu.Access(i);
        if (step == nullptr) continue;
        step->writeRequests[0] = step->writeRequests[2];
        step->writeRequests[2].clear();
    }
    RaiseProgress(0, 77, "ServiceConnectToObject: Set SAV 1-4 to Fingerprint [25 Byte] OK");
}

// ---------------------------------------------------------------- diagnostic access

int32_t CSUdsIso14229::SelectAccess(int32_t index, bool requireEnabled) {
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    const AccessStep* step = ecu->Access(index);
    if (step == nullptr || (requireEnabled && !step->enabled)) return kNoSuchAccess;
    selectedAccess_ = *step;
    return kResultOk;
}

int32_t CSUdsIso14229::RunSession() {
    if (selectedAccess_.sessionRequest.empty()) return kResultOk;
    std::string response;
    return ExtDataTransfer(kPhysical, selectedAccess_.sessionRequest, response) == 0
               ? kResultOk
               : kAccessFailed;
}

int32_t CSUdsIso14229::RunSecurityAccess() {
    if (selectedAccess_.seedRequest.empty()) return kResultOk;
    std::string seed;
    if (ExtDataTransfer(kPhysical, selectedAccess_.seedRequest, seed) != 0) return kAccessFailed;
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    const std::string key = ecu->BuildAccessRequest(selectedAccess_, seed);
    std::string response;
    if (key.empty() || ExtDataTransfer(kPhysical, key, response) != 0) return kAccessFailed;
    return kResultOk;
}

int32_t CSUdsIso14229::RunFingerprint() {
    const std::string& fingerprint = selectedAccess_.writeRequests[0];
    const std::string& finalRequest = selectedAccess_.writeRequests[1];
    const std::string& fallback = selectedAccess_.writeRequests[2];
    std::string response;
    if (!fingerprint.empty()) {
        const int32_t result = ExtDataTransfer(kPhysical, fingerprint, response);
        if (result == kNegativeResponse) {
            if (fallback.empty()) return kAccessFailed;
            if (ExtDataTransfer(kPhysical, fallback, response) != 0) return kAccessFailed;
        } else if (result != 0) {
            return kAccessFailed;
        }
    }
    if (finalRequest.empty()) return kResultOk;
    return ExtDataTransfer(kPhysical, finalRequest, response) == 0 ? kResultOk : kAccessFailed;
}

int32_t CSUdsIso14229::OpenAccess(int32_t index) {
    int32_t result = SelectAccess(index);
    if (result != kResultOk) return result;
    if ((result = RunSession()) != kResultOk) return result;
    if ((result = RunSecurityAccess()) != kResultOk) return result;
    return RunFingerprint();
}

int32_t CSUdsIso14229::ServiceSetDiagnosticAccess(ServiceOrder order) {
    return OpenAccess(order.predefinedSession);
}

// ---------------------------------------------------------------- single request

int32_t CSUdsIso14229::ServiceSingleRequest(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceSingleRequest: Start");
    std::string& response = ResultRecordForService().response;
    response.clear();
    const int32_t result = ExtDataTransfer(order.addressMode, order.request, response);
    RaiseProgress(0, 100, "ServiceSingleRequest: Finished");
    return result;
}

}  // namespace diagbridge
