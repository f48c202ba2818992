#include "devices/CDCKalidorCom.h"

#include <array>
#include <cstdio>

#include "engine/CConvert.h"

namespace diagbridge {

namespace {
constexpr std::size_t kMaxRequestBytes = 255;
}  // namespace

CDCKalidorCom::CDCKalidorCom(const EcuParameterBlock& configuration,
                             const InterfaceSettings& settings)
    : CDCKalidorCom(configuration, settings,
                    [](int32_t port) { return std::make_unique<CKalidor>(port, 0, 0); }) {}

CDCKalidorCom::CDCKalidorCom(const EcuParameterBlock& configuration,
                             const InterfaceSettings& settings, const DeviceFactory& makeDevice)
    : CDeviceContainer(configuration, settings), device_(makeDevice(settings.rs232Port)) {}

CDCKalidorCom::~CDCKalidorCom() = default;

int32_t CDCKalidorCom::DevConnect() {
    if (!device_) return kNoDevice;
    if (Mode() == kModeFreeRun) {
        std::array<uint8_t, CKalidor::kReplyCapacity> frame{};
        return device_->ReceiveFrame(frame.data(), frame.size()) > 0 ? 0 : kFailed;
    }
    if (Mode() == kModeQuick) return device_->WakeUp() != 0 ? 0 : kFailed;
    return kNoDevice;
}

int32_t CDCKalidorCom::DevDisconnect() {
    if (device_) device_->StopCommunication();
    return 0;
}

int32_t CDCKalidorCom::DevTransferData(std::string request, std::string& response) {
    response.clear();
    if (!device_) return kNoDevice;
    std::array<uint8_t, kMaxRequestBytes> bytes{};
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(request, bytes.data(), bytes.size(), stored);
    if (count <= 0) return kNoDevice;
    std::array<uint8_t, CKalidor::kReplyCapacity> reply{};
    const int32_t result = device_->SendCommand(bytes.data(), static_cast<uint32_t>(count),
                                                reply.data(), reply.size());
    if (result > 0) response = BytesToHexString(reply.data(), static_cast<std::size_t>(result));
    return result;
}

int32_t CDCKalidorCom::DevReceiveData(std::string& out) {
    if (!device_) return kNoDevice;
    std::array<uint8_t, CKalidor::kReplyCapacity> frame{};
    const int32_t count = device_->ReceiveFrame(frame.data(), frame.size());
    if (count <= 0) return kNoDevice;
    char byteText[4];
    for (int32_t i = 0; i < count; ++i) {
        std::snprintf(byteText, sizeof(byteText), "%2.2X ", frame[static_cast<std::size_t>(i)]);
        out += byteText;
    }
    return 0;
}

}  // namespace diagbridge
