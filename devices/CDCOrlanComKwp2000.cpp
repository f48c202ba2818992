#include "devices/CDCOrlanComKwp2000.h"

#include <algorithm>
#include <cstdio>

#include "devices/CT60.h"
#include "engine/CConvert.h"

namespace diagbridge {

namespace {
constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kBusyRepeatRequest = 0x21;
constexpr uint8_t kStopCommunication = 0x82;
constexpr std::size_t kNegativeHeader = 3;
constexpr const char* kTesterPresent = "3E";
constexpr const char* kTesterPresentAnswer = "7E";
constexpr const char* kStopRequest = "82";
constexpr int32_t kNoAnswer = -1;
constexpr int32_t kBadRequest = -3;

// P3min in force for a configured value; 0 or less stands for standard timing.
uint32_t InterRequestMs(int32_t p3min) {
    return p3min > 0 ? static_cast<uint32_t>(p3min) : CT60::kStandardP3MinMs;
}
}  // namespace

CDCOrlanComKwp2000::CDCOrlanComKwp2000(const EcuParameterBlock& configuration,
                                       const InterfaceSettings& settings,
                                       platform::CancelFlag* cancel)
    : CDCOrlanComKwp2000(configuration, settings, cancel,
                         [] { return std::make_unique<CT60>(0, 0, 0); }) {}

CDCOrlanComKwp2000::CDCOrlanComKwp2000(const EcuParameterBlock& configuration,
                                       const InterfaceSettings& settings,
                                       platform::CancelFlag* cancel, DeviceFactory makeDevice)
    : CDeviceContainer(configuration, settings),
      cancel_(cancel),
      makeDevice_(std::move(makeDevice)) {}

CDCOrlanComKwp2000::~CDCOrlanComKwp2000() = default;

bool CDCOrlanComKwp2000::Create() {
    device_ = makeDevice_ ? makeDevice_() : nullptr;
    connected_ = 0;
    if (!device_) return false;
    device_->SetAddresses(configuration_.kwp.testerAddress, configuration_.kwp.ecuAddress);
    device_->SetNoEcho(isSkyLink);
    return true;
}

int32_t CDCOrlanComKwp2000::Port() const {
    return isSkyLink == 1 ? settings_.skyLinkPort : settings_.rs232Port;
}

int32_t CDCOrlanComKwp2000::TimeoutMs() const {
    const int32_t timeout = isSkyLink == 1 ? settings_.skyLinkTimeoutMs : settings_.rs232TimeoutMs;
    return timeout > 0 ? timeout : kDefaultTimeoutMs;
}

int32_t CDCOrlanComKwp2000::OpenDevice() {
    device_->Open(Port(), settings_.skyLinkBaudrate, settings_.rs232Baudrate, TimeoutMs(),
                  isSkyLink);
    return device_->GetLastError();
}

int32_t CDCOrlanComKwp2000::DevOpen() {
    if (!device_) return CD5Device::kPortNotOpened;
    const int32_t status = OpenDevice();
    if (status <= 0) {
        char text[64];
        std::snprintf(text, sizeof(text),
                      isSkyLink == 1 ? "ORLAN SKYLINK at Port %d" : "ORLAN RS232 at Port %d",
                      Port());
        description = text;
        return 0;
    }
    device_->Close();
    connected_ = 0;
    return status;
}

int32_t CDCOrlanComKwp2000::DevClose() {
    if (device_) device_->Close();
    connected_ = 0;
    return 0;
}

int32_t CDCOrlanComKwp2000::DevSetBaudRate(int32_t baud) {
    if (device_) device_->SetBaudRate(baud);
    return 0;
}

int32_t CDCOrlanComKwp2000::DevSetTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                                         int32_t p4min) {
    return DevUseTiming(p2min, p2max, p3min, p3max, p4min);
}

int32_t CDCOrlanComKwp2000::DevUseTiming(int32_t /*p2min*/, int32_t /*p2max*/, int32_t p3min,
                                         int32_t /*p3max*/, int32_t /*p4min*/) {
    if (device_) device_->SetInterRequestTime(InterRequestMs(p3min));
    return 0;
}

int32_t CDCOrlanComKwp2000::DevConnect() {
    if (!device_) return kNoAnswer;
    if (connected_ == 1 && device_->IsPortOpen()) return 0;
    connected_ = 0;
    if (!device_->IsPortOpen()) OpenDevice();
    if (device_->Connect() != 1) {
        // Either the ECU is silent or the port went away under us: a fresh port for the
        // second attempt covers both.
        device_->Close();
        OpenDevice();
        if (device_->Connect() != 1) return kNoAnswer;
    }
    device_->SetInterRequestTime(InterRequestMs(configuration_.kwp.p3Min));
    connected_ = 1;
    return 1;
}

int32_t CDCOrlanComKwp2000::DevDisconnect() {
    std::string response;
    DevTransferData(kStopRequest, response);
    return 0;
}

int32_t CDCOrlanComKwp2000::Fail() {
    lastResponse_.fill(0);
    lastLength_ = -1;
    connected_ = 0;
    return kNoAnswer;
}

bool CDCOrlanComKwp2000::IsNegative(int32_t count, uint8_t code) const {
    return count >= static_cast<int32_t>(kNegativeHeader) && buffer_[0] == kNegativeResponse &&
           buffer_[2] == code;
}

bool CDCOrlanComKwp2000::Pause(uint32_t ms) {
    return platform::Clock().SleepMs(ms, cancel_);
}

int32_t CDCOrlanComKwp2000::AwaitPending(int32_t count) {
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    while (IsNegative(count, kResponsePending)) {
        const uint32_t pendingSince = clock.TickMs();
        count = 0;
        while (count < 1) {
            const uint32_t now = clock.TickMs();
            if (platform::ElapsedMs(start, now) >= kPendingTotalMs) return 0;
            if (platform::ElapsedMs(pendingSince, now) >= kPendingWaitMs) return 0;
            if (!Pause(kPendingPauseMs)) return 0;
            std::fill_n(buffer_.begin(), kNegativeHeader, uint8_t{0});
            count = device_->ReceiveResponse(buffer_.data(), kResponseCapacity);
        }
    }
    return count;
}

int32_t CDCOrlanComKwp2000::RepeatWhileBusy(const uint8_t* request, uint32_t length,
                                            int32_t count) {
    for (int32_t repeat = 0; repeat < kMaxBusyRepeats && IsNegative(count, kBusyRepeatRequest);
         ++repeat) {
        if (!Pause(kBusyPauseMs)) return 0;
        std::fill_n(buffer_.begin(), kNegativeHeader, uint8_t{0});
        count = device_->SendCommand(request, length, buffer_.data(), kResponseCapacity);
    }
    return count;
}

int32_t CDCOrlanComKwp2000::DevTransferData(std::string request, std::string& response) {
    lastLength_ = -1;
    std::array<uint8_t, kMaxRequestBytes> bytes{};
    std::size_t stored = 0;
    const int32_t length = HexStringToBytes(request, bytes.data(), bytes.size(), stored);
    if (length < 1) return kBadRequest;
    if (bytes[0] == kStopCommunication) connected_ = 0;
    if (!device_) {
        response.clear();
        lastLength_ = 0;
        return 0;
    }
    const auto count32 = static_cast<uint32_t>(length);
    buffer_.fill(0);
    int32_t count = device_->SendCommand(bytes.data(), count32, buffer_.data(), kResponseCapacity);
    if (count < 1) return Fail();
    count = RepeatWhileBusy(bytes.data(), count32, count);
    if (count < 1) return Fail();
    count = AwaitPending(count);
    if (count < 1 || count > static_cast<int32_t>(kResponseCapacity)) return Fail();
    const auto size = static_cast<std::size_t>(count);
    std::copy_n(buffer_.begin(), size, lastResponse_.begin());
    lastLength_ = count;
    response = BytesToHexString(buffer_.data(), size);
    return count;
}

int32_t CDCOrlanComKwp2000::DevSetAddress(uint8_t tester, uint8_t ecu) {
    if (!device_) return 1;
    device_->SetAddresses(tester, ecu);
    return 0;
}

int32_t CDCOrlanComKwp2000::DevTesterPresent() {
    std::string response;
    DevTransferData(kTesterPresent, response);
    return response == kTesterPresentAnswer ? 0 : kNoAnswer;
}

std::string CDCOrlanComKwp2000::DevDescribe(std::string& out, int32_t port, int32_t baud,
                                            int32_t skyLink) {
    out = device_ ? device_->DescribePort(port, baud, skyLink) : std::string();
    return out;
}

}  // namespace diagbridge
