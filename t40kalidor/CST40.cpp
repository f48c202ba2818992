// Parameters, request exchange, response evaluation, creation, connect, identification,
// login and single request of the T40 communication object.
#include "t40kalidor/CST40.h"

#include <algorithm>

#include "ecu/CEcu.h"
#include "ecu/KwpUploadValues.h"
#include "engine/CConvert.h"
#include "engine/ParameterString.h"
#include "t40kalidor/T40Ident.h"

namespace diagbridge {

namespace {
constexpr std::size_t kMaxRequestBytes = 253;
constexpr uint8_t kBootLoaderCode = 0x0A;
constexpr uint8_t kStatusCode = 0xF9;
constexpr std::size_t kStatusIndex = 5;
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusDone = 0x10;
constexpr uint8_t kStatusBusy = 0x31;
constexpr uint8_t kStatusErasing = 0x40;
constexpr uint16_t kCrcPolynomial = 0x8408;
constexpr uint16_t kCrcInitial = 0xFFFF;
constexpr const char* kH4Type = "T40H4";
constexpr const char* kH5Type = "T40H5";
}  // namespace

CST40::CST40(IServiceEvents* events, const std::string& parameter)
    : CSoftwareInterface(events, kProtocolIso9141) {
    interface_.rs232Baudrate = 9600;
    interface_.skyLinkBaudrate = kSkyLinkInit;
    interface_.rs232TimeoutMs = kDefaultTimeoutMs;
    interface_.skyLinkTimeoutMs = kDefaultTimeoutMs;
    AcceptParameterString(parameter);
}

CST40::~CST40() {
    StopWorker();
}

std::unique_ptr<CSoftwareInterface> CreateT40CommunicationObject(IServiceEvents* events,
                                                                 const std::string& parameter) {
    return std::make_unique<CST40>(events, parameter);
}

CHT40* CST40::Hardware() const {
    return static_cast<CHT40*>(HardwareInterface());
}

void CST40::UseContainers(CHT40::ContainerFactory makeContainers) {
    makeContainers_ = std::move(makeContainers);
}

// ---------------------------------------------------------------- parameters

int32_t CST40::GetServiceTimeout() {
    return parameters_.iso9141.timeouts.ForCommand(CurrentOrder().command);
}

int32_t CST40::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, kKeyword, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

int32_t CST40::SetParameter(const std::string& key, const std::string& value) {
    const std::string stripped = StripBlanks(value);
    const int32_t number = ReadDecimal(stripped);
    if (key == "TRACE") {
        traceFlag_ = number > 0;
    } else if (key == "PROGRESS") {
        progressFlag_ = number > 0;
    } else if (key == "STATUS") {
        statusFlag_ = number > 0;
    } else if (key == "RS232") {
        interface_.rs232Port = number;
    } else if (key == "SKYLINK") {
        interface_.skyLinkPort = number;
    } else if (key == "SKYLINKINIT") {
        interface_.skyLinkBaudrate = number;
    } else if (key == "BAUDRATE") {
        interface_.rs232Baudrate = number;
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

int32_t CST40::CheckResponse(const std::string& response) {
    const std::vector<uint8_t> bytes = T40Bytes(response);
    if (bytes.empty()) return kNoResponse;
    if (bytes[0] == kBootLoaderCode) return kRefused;
    if (bytes[0] != kStatusCode) return kResultOk;
    const uint8_t status = bytes.size() > kStatusIndex ? bytes[kStatusIndex] : 0;
    switch (status) {
        case kStatusOk:
        case kStatusDone:
            return kResultOk;
        case kStatusBusy:
            return kBusy;
        case kStatusErasing:
            return kEraseInProgress;
        default:
            return kRefused;
    }
}

int32_t CST40::DataTransfer(const std::string& request, std::string& response) {
    return DataTransfer(request, response, true, true);
}

int32_t CST40::DataTransfer(const std::string& request, std::string& response, bool check,
                            bool trace) {
    const std::vector<uint8_t> bytes = T40Bytes(request);
    if (bytes.empty() || bytes.size() > kMaxRequestBytes) {
        if (trace) RaiseTrace(0, "ERROR Datatransfer [" + request + "]: Invalid request");
        return kResultBadParameter;
    }
    const int32_t transferred = TimedTransfer(request, response, trace);
    if (transferred != kResultOk || !check) return transferred;
    return CheckResponse(response);
}

// ---------------------------------------------------------------- identification and login

std::string CST40::ReadHardwareVersion(int32_t& result) {
    std::string response;
    result = DataTransfer(kHardwareVersionRequest, response, true, true);
    if (result == kRefused) return HardwareInterface()->HardwareText();
    if (result != kResultOk) return {};
    std::string text = T40Text(T40Bytes(response), 1, SIZE_MAX);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

int32_t CST40::ReadEcuType() {
    ecuType_ = kUnknownType;
    int32_t result = kResultOk;
    const std::string version = ReadHardwareVersion(result);
    if (result == kRefused) {
        ecuType_ = "T40" + version;
        return result;
    }
    if (result != kResultOk) return result;
    if (version == "H5") {
        ecuType_ = kH5Type;
    } else if (version == "???????" || version == "0.0") {
        ecuType_ = kH4Type;
    }
    return kResultOk;
}

int32_t CST40::ReadIdentBlock(std::vector<uint8_t>& bytes) {
    std::string response;
    const int32_t result = DataTransfer(kIdentRequest, response, true, true);
    bytes = result == kResultOk ? T40Bytes(response) : std::vector<uint8_t>();
    return result;
}

int32_t CST40::ReadSerialData() {
    std::vector<uint8_t> block;
    const int32_t result = ReadIdentBlock(block);
    if (result != kResultOk) return result;
    serialKey_ = BytesToHexString(block.data() + std::min(block.size(), kSerialKeyOffset),
                                  block.size() > kSerialKeyOffset
                                      ? std::min(kSerialKeyBytes, block.size() - kSerialKeyOffset)
                                      : 0);
    dataSetLength_ = T40Word(block, kDataSetLengthOffset);
    return result;
}

uint16_t CST40::LoginKey(const std::vector<uint8_t>& serialKey) {
    uint16_t crc = kCrcInitial;
    for (std::size_t i = 0; i < kSerialKeyBytes; ++i) {
        crc ^= i < serialKey.size() ? serialKey[i] : 0;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kCrcPolynomial)
                                 : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

int32_t CST40::Login() {
    const uint16_t key = LoginKey(T40Bytes(serialKey_));
    std::string response;
    return DataTransfer(FormatText("18 %02X %02X", key >> 8, key & 0xFF), response, true, true);
}

// ---------------------------------------------------------------- create and connect

int32_t CST40::ServiceCreateHWObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceCreateHWObject: Start");
    if (HardwareInterface() == nullptr) {
        if (makeContainers_) {
            SetHardwareInterface(std::make_unique<CHT40>(parameters_, interface_, makeContainers_));
        } else {
            SetHardwareInterface(std::make_unique<CHT40>(parameters_, interface_));
        }
        if (!HardwareInterface()->DevicePresent()) SetHardwareInterface(nullptr);
    }
    if (HardwareInterface() == nullptr) {
        RaiseProgress(0, 50, "ServiceCreateHWObject: Error Create CHT40");
        return kResultFailure;
    }
    RaiseProgress(0, 50, "ServiceCreateHWObject: Initialise Device");
    HardwareInterface()->HALInit();
    RaiseProgress(0, 100, "ServiceCreateHWObject: Finished");
    return kResultOk;
}

int32_t CST40::WakeOrEnterFlash(const char* prefix) {
    CHT40& hardware = *Hardware();
    hardware.SetConfiguration(parameters_);
    if (hardware.HALConnect() >= 0) return kResultOk;
    const std::string name(prefix);
    RaiseProgress(0, 40, name + ": Start Communication: Check ECU MODE");
    RaiseProgress(-1, 40, name + ": Turn ignition or T40 off and on!!");
    const int32_t result = hardware.HALEnterFlashMode();
    if (result < 0) {
        RaiseProgress(0, 40, name + ": Start Communication failed");
        return result;
    }
    RaiseProgress(0, 45, name + ": " + hardware.HardwareText() + " detected, Flashmode active!!!");
    return kResultOk;
}

int32_t CST40::CheckEcuIdent(CEcu& ecu) {
    RaiseProgress(0, 50, "ServiceConnectToObject: Read ECU Ident");
    const int32_t result = ReadEcuType();
    if (result < 0) {
        RaiseProgress(0, 50, "ServiceConnectToObject: Read ECU Ident failed");
        return result;
    }
    RaiseProgress(0, 90, "ServiceConnectToObject: Check ECU Ident");
    if (!ecu.MatchObjectType(ecuType_)) {
        RaiseProgress(0, 90, "ServiceConnectToObject: Check ECU Ident failed");
        Hardware()->HALDisconnect();
        return kResultConnectionLost;
    }
    RaiseProgress(0, 90, "ServiceConnectToObject: Check ECU Ident OK");
    Hardware()->SetHardwareType(ecuType_);
    return kResultOk;
}

int32_t CST40::ServiceConnectToObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceConnectToObject: Start");
    if (HardwareInterface() == nullptr) {
        RaiseProgress(0, 10, "ServiceConnectToObject: Error No HW Object detected");
        return kResultFailure;
    }
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    RaiseProgress(0, 30, "ServiceConnectToObject: Start Communication");
    int32_t result = WakeOrEnterFlash("ServiceConnectToObject");
    if (result < 0) return result;
    result = CheckEcuIdent(*ecu);
    if (result < 0) return result;
    ReadSerialData();
    Login();
    adapterText_ =
        FormatText(Hardware()->CurrentIndex() == CHT40::kSkyLinkSlot ? "SKYLINK at Port %d"
                                                                     : "RS232 at Port %d",
                   Hardware()->CurrentPort());
    RaiseProgress(0, 100, "ServiceConnectToObject: finished");
    return kResultOk;
}

int32_t CST40::RestartCommunication() {
    RaiseProgress(0, 0, "Restart Communication: Start");
    if (HardwareInterface() == nullptr) return kResultFailure;
    if (Hardware()->CurrentIndex() == CHT40::kSkyLinkSlot) {
        PauseMs(kSkyLinkReopenMs);
        Hardware()->HALDeInit();
        Hardware()->HALInit();
        PauseMs(kSkyLinkReopenMs);
    }
    int32_t result = WakeOrEnterFlash("Restart Communication");
    if (result < 0) return result;
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    result = CheckEcuIdent(*ecu);
    if (result < 0) return result;
    RaiseProgress(0, 0, "Restart Communication: finished");
    return kResultOk;
}

// ---------------------------------------------------------------- object info and requests

int32_t CST40::ServiceGetObjectInfo(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceGetObjectInfo: Start");
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    int32_t result = kResultOk;
    const std::string hardware = ReadHardwareVersion(result);
    std::vector<uint8_t> block;
    ReadIdentBlock(block);
    ecu->SetIdentText(T40IdentText(hardware, block, ecu->Ident(CEcu::kIdentObjectType)));
    RaiseProgress(0, 100, "ServiceGetObjectInfo: Finished");
    return kResultOk;
}

int32_t CST40::ServiceSetDiagnosticAccess(ServiceOrder /*order*/) {
    RaiseProgress(0, 100, "ServiceSetDiagnosticAccess not available");
    return kResultNotPermitted;
}

int32_t CST40::ServiceSingleRequest(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceSingleRequest: Start");
    std::string& response = ResultRecordForService().response;
    response.clear();
    const int32_t result = DataTransfer(order.request, response, true, true);
    RaiseProgress(0, 100, "ServiceSingleRequest: Finished");
    return result;
}

}  // namespace diagbridge
