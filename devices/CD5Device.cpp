#include "devices/CD5Device.h"

#include "platform/Notifier.h"

namespace diagbridge {

CD5Device::~CD5Device() = default;

bool CD5Device::WriteRaw(const uint8_t*, uint32_t) {
    return false;
}
int32_t CD5Device::ReceiveFrame(uint8_t*, uint32_t) {
    return 0;
}
std::string CD5Device::GetDeviceInfo() {
    return "No Info ";
}
int32_t CD5Device::GetIdent(std::vector<std::string>*, std::vector<uint8_t>*) {
    return 0;
}
int32_t CD5Device::TransferFrame(uint8_t*, uint32_t, uint32_t) {
    return 0;
}
int32_t CD5Device::GetIdentBytes(std::vector<uint8_t>*) {
    return 0;
}
int32_t CD5Device::Connect() {
    return 0;
}
int32_t CD5Device::SetBaudRate(int32_t) {
    return 0;
}

int32_t CD5Device::SendCommand(const uint8_t*, uint32_t, uint8_t*, uint32_t) {
    platform::Notify("SendMessage");
    return 0;
}

int32_t CD5Device::Transact(uint8_t, uint32_t, const uint8_t*) {
    return 0;
}
int32_t CD5Device::ReceiveResponse(uint8_t*, uint32_t) {
    return 0;
}
int32_t CD5Device::Open(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
std::string CD5Device::DescribePort(int32_t, int32_t, int32_t) {
    return {};
}
int32_t CD5Device::Close() {
    return 0;
}
int32_t CD5Device::WakeUp() {
    return 0;
}
void CD5Device::StopCommunication() {}
int32_t CD5Device::EnterFlashMode(const std::string&) {
    return 0;
}

void CD5Device::SetAddresses(uint8_t testerAddress, uint8_t ecuAddress) {
    testerAddress_ = testerAddress;
    ecuAddress_ = ecuAddress;
}

void CD5Device::RestoreDefaultAddresses() {
    if (ecuAddress_ != 0 && testerAddress_ != 0) return;
    ecuAddress_ = kDefaultEcuAddress;
    testerAddress_ = kDefaultTesterAddress;
}

}  // namespace diagbridge
