#include "devices/CDCT40.h"

#include <array>

#include "engine/CConvert.h"

namespace diagbridge {

namespace {
constexpr uint32_t kMaxRequestBytes = CT40::kMaxDataCount + 1;
constexpr uint32_t kFlashCodeLength = 8;
}  // namespace

CDCT40::CDCT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings)
    : CDCT40(configuration, settings, [] { return std::make_unique<CT40>(0, 0, 0); }) {}

CDCT40::CDCT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
               DeviceFactory makeDevice)
    : CDeviceContainer(configuration, settings), makeDevice_(std::move(makeDevice)) {}

CDCT40::~CDCT40() = default;

bool CDCT40::Create() {
    device_ = makeDevice_();
    return true;
}

int32_t CDCT40::DevOpen() {
    if (!device_) return kNoDevice;
    if (isSkyLink == 1) {
        return device_->Open(settings_.skyLinkPort, settings_.rs232Baudrate,
                             settings_.skyLinkBaudrate, settings_.skyLinkTimeoutMs, 1);
    }
    return device_->Open(settings_.rs232Port, settings_.rs232Baudrate, settings_.skyLinkBaudrate,
                         settings_.rs232TimeoutMs, 0);
}

int32_t CDCT40::DevClose() {
    if (device_) device_->Close();
    return 0;
}

int32_t CDCT40::DevSetBaudRate(int32_t baud) {
    if (device_) device_->SetBaudRate(baud);
    return 0;
}

int32_t CDCT40::DevConnect() {
    if (!device_) return kNoDevice;
    // A wired adapter may have gone away since (a controller or adapter re-plugged, the port
    // pointed elsewhere): the wake-up goes out on a freshly opened port.
    if (isSkyLink != 1) {
        device_->Close();
        DevOpen();
    }
    return device_->WakeUp() != 0 ? 0 : kFailed;
}

int32_t CDCT40::DevDisconnect() {
    if (!device_) return kNoDevice;
    device_->StopCommunication();
    return 0;
}

int32_t CDCT40::DevTransferData(std::string request, std::string& response) {
    if (!device_) return kNoDevice;
    std::array<uint8_t, kMaxRequestBytes> bytes{};
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(request, bytes.data(), bytes.size(), stored);
    if (count <= 0) return kFailed;
    if (device_->Transact(bytes[0], static_cast<uint32_t>(count - 1), bytes.data() + 1) == 0) {
        return kFailed;
    }
    const uint32_t length = device_->ResponseLength();
    const uint32_t payload = length < 2 ? 0 : length - 1;
    response = BytesToHexString(device_->ResponseFrame() + 1, payload);
    return 0;
}

int32_t CDCT40::DevEnterFlashMode() {
    if (!device_) return kNoDevice;
    if (device_->EnterFlashMode(hardwareType) != 0) return kFailed;
    description = device_->FlashIdent();
    return 0;
}

int32_t CDCT40::DevSendFlashCode() {
    if (device_) {
        device_->WriteRaw(reinterpret_cast<const uint8_t*>(kSkyLinkFlashCode), kFlashCodeLength);
    }
    return 0;
}

}  // namespace diagbridge
