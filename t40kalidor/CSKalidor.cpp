#include "t40kalidor/CSKalidor.h"

#include "ecu/CEcu.h"
#include "ecu/KwpUploadValues.h"
#include "engine/ParameterString.h"

namespace diagbridge {

CSKalidor::CSKalidor(IServiceEvents* events, const std::string& parameter)
    : CSoftwareInterface(events, kProtocolKalidor) {
    interface_.rs232Baudrate = baudrate_;
    AcceptParameterString(parameter);
}

CSKalidor::~CSKalidor() {
    StopWorker();
}

std::unique_ptr<CSoftwareInterface> CreateKalidorCommunicationObject(IServiceEvents* events,
                                                                     const std::string& parameter) {
    return std::make_unique<CSKalidor>(events, parameter);
}

void CSKalidor::UseSamtecContainer(CHKalidor::ContainerFactory makeSamtec) {
    makeSamtec_ = std::move(makeSamtec);
}

void CSKalidor::UseContainer(CHKalidor::ContainerFactory makeContainer) {
    makeContainer_ = std::move(makeContainer);
}

// ---------------------------------------------------------------- parameters

int32_t CSKalidor::GetServiceTimeout() {
    switch (CurrentOrder().command) {
        case kCommandSingleRequest:
            return kSingleRequestTimeoutMs;
        case kCommandUpload:
            return kUploadTimeoutMs;
        default:
            return kOtherTimeoutMs;
    }
}

std::string CSKalidor::GetParameterString() {
    return kKeyword + FormatText(
                          "|RS232=%d|SAMTECUSB=%d|BAUDRATE=%d|SAMTECFIRMWARE=%s|"
                          "SAMTECCONFIGFILE=%s|TRACE=%d|PROGRESS=%d|STATUS=%d",
                          interface_.rs232Port, interface_.samtecUsb ? 1 : 0, baudrate_,
                          samtecFirmware_.c_str(), samtecConfigFile_.c_str(), TraceOn() ? 1 : 0,
                          ProgressOn() ? 1 : 0, StatusOn() ? 1 : 0);
}

int32_t CSKalidor::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, kKeyword, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

int32_t CSKalidor::SetParameter(const std::string& key, const std::string& value) {
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
    } else if (key == "SAMTECUSB") {
        interface_.samtecUsb = number > 0;
    } else if (key == "BAUDRATE") {
        baudrate_ = number;
        interface_.rs232Baudrate = number;
    } else if (key == "SAMTECFIRMWARE") {
        // Compared with the adapter's own text, which has blanks ("ISO9141-Tester 4.52.0.0").
        samtecFirmware_ = TrimBlanks(value);
    } else if (key == "SAMTECCONFIGFILE") {
        samtecConfigFile_ = TrimBlanks(value);
    } else {
        return kResultBadParameter;
    }
    return 0;
}

// ---------------------------------------------------------------- exchange

int32_t CSKalidor::DataTransfer(const std::string& request, std::string& response) {
    // A reply too short to carry a payload (silence included) is no answer.
    return TimedTransfer(request, response, true, true);
}

// ---------------------------------------------------------------- services

int32_t CSKalidor::ServiceCreateHWObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceCreateHWObject Kalidor: Start");
    if (HardwareInterface() == nullptr) {
        if (makeContainer_) {
            SetHardwareInterface(CHKalidor::WithContainer(parameters_, interface_, makeContainer_));
        } else {
            const CHKalidor::ContainerFactory makeSamtec =
                makeSamtec_ ? makeSamtec_
                            : CHKalidor::SamtecFactory(samtecFirmware_, samtecConfigFile_);
            SetHardwareInterface(std::make_unique<CHKalidor>(parameters_, interface_, makeSamtec));
        }
    }
    const int32_t result = HardwareInterface()->HALInit();
    RaiseProgress(0, 100, "ServiceCreateHWObject Kalidor: Finished");
    return result;
}

int32_t CSKalidor::ServiceDeleteHWObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceDeleteHWObject Kalidor: Start");
    SetHardwareInterface(nullptr);
    RaiseProgress(0, 100, "ServiceDeleteHWObject Kalidor: Finished");
    return kResultOk;
}

int32_t CSKalidor::ServiceConnectToObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceConnectToObject Kalidor : Start");
    CEcu* ecu = AttachedEcu();
    auto* hardware = static_cast<CHKalidor*>(HardwareInterface());
    if (hardware == nullptr || ecu == nullptr) return kResultFailure;
    hardware->SetConfiguration(parameters_);
    const int32_t result = hardware->HALConnect();
    ecu->SetConnected(result == kResultOk);
    RaiseProgress(0, 100, "ServiceConnectToObject Kalidor: Finished");
    return result;
}

int32_t CSKalidor::ServiceDisconnectFromObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceDisconnectFromObject Kalidor: Start");
    if (HardwareInterface() != nullptr) HardwareInterface()->HALDisconnect();
    if (CEcu* ecu = AttachedEcu()) ecu->SetConnected(false);
    RaiseProgress(0, 100, "ServiceDisconnectFromObject Kalidor: Finished");
    return kResultOk;
}

int32_t CSKalidor::ServiceSingleRequest(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceSingleRequest Kalidor: Start");
    if (HardwareInterface() == nullptr || AttachedEcu() == nullptr) return kResultFailure;
    std::string& response = ResultRecordForService().response;
    response.clear();
    const int32_t result = DataTransfer(order.request, response);
    RaiseProgress(0, 100, "ServiceSingleRequest Kalidor: Finished");
    return result;
}

int32_t CSKalidor::ServiceUpload(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceUpload Kalidor: Start");
    CEcu* ecu = AttachedEcu();
    if (HardwareInterface() == nullptr || ecu == nullptr) return kResultFailure;
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    std::string frame;
    const int32_t result = HardwareInterface()->HALReceiveData(frame);
    const uint32_t elapsed = platform::ElapsedMs(start, clock.TickMs());
    if (result == kResultOk) {
        ecu->SetUploadText(frame);
        RaiseTrace(0, FormatText("%4.3d ms |%s|", static_cast<int>(elapsed), frame.c_str()));
    } else {
        RaiseTrace(0, "ERROR Datatransfer: Communication failed");
    }
    RaiseProgress(0, 100, "ServiceUpload Kalidor: Finished");
    return result;
}

int32_t CSKalidor::ServiceGetObjectInfo(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceGetObjectInfo: Start");
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    const std::string interfaceName =
        HardwareInterface() != nullptr ? HardwareInterface()->InterfaceName() : std::string();
    const std::string device =
        interface_.samtecUsb
            ? FormatText("USB %s  Firmware: %s Config: %s ]", interfaceName.c_str(),
                         samtecFirmware_.c_str(), samtecConfigFile_.c_str())
            : FormatText("RS232 at Port %d", interface_.rs232Port);
    ecu->SetIdentText("NAME=" + ecu->Ident(CEcu::kIdentObjectType) +
                      "|PROTOCOL=" + ecu->Ident(CEcu::kIdentProtocol) + "|DEVICE=" + device);
    RaiseProgress(0, 100, "ServiceGetObjectInfo: Finished");
    return kResultOk;
}

}  // namespace diagbridge
