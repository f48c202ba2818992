#include "can/CDCVectorUds.h"

#include "engine/CConvert.h"
#include "uds/UdsRequest.h"

namespace diagbridge {

namespace {
constexpr int32_t kTwoThirdsMegabit = 666666;
constexpr uint16_t kTwoThirdsMegabitKbit = 667;
constexpr int32_t kOpened = 1;
}  // namespace

CDCVectorUds::CDCVectorUds(const EcuParameterBlock& configuration,
                           const UdsInterfaceSettings& settings, platform::CancelFlag* cancel)
    : CDCVectorUds(configuration, settings, cancel, std::make_unique<CIsoTp>()) {}

CDCVectorUds::CDCVectorUds(const EcuParameterBlock& configuration,
                           const UdsInterfaceSettings& settings, platform::CancelFlag* cancel,
                           std::unique_ptr<CIsoTp> channel)
    : CDeviceContainer(configuration, InterfaceSettings{}),
      interface_(settings),
      channel_(std::move(channel)) {
    channel_->SetCancelFlag(cancel);
    description = kDescription;
}

bool CDCVectorUds::Create() {
    return channel_->IsLoaded();
}

uint16_t CDCVectorUds::RateKbit(int32_t bitRate) {
    if (bitRate == kTwoThirdsMegabit) return kTwoThirdsMegabitKbit;
    if (bitRate <= 0) return 0;
    return static_cast<uint16_t>(bitRate / 1000);
}

int32_t CDCVectorUds::DevConnect() {
    const UdsParameterBlock& uds = configuration_.uds;
    const auto ecu = static_cast<uint8_t>(uds.responseId & 0xFF);
    const auto tester = static_cast<uint8_t>(uds.requestId & 0xFF);
    if (channel_->Open(RateKbit(interface_.bitRate), ecu, tester, uds.keepAliveMode) != kOpened) {
        return -1;
    }
    connected_ = true;
    return 0;
}

int32_t CDCVectorUds::DevDisconnect() {
    if (connected_) channel_->Close();
    connected_ = false;
    return 0;
}

int32_t CDCVectorUds::DevTransferDataEx(int32_t /*addressMode*/, std::string request,
                                        std::string& response) {
    uint8_t bytes[CIsoTp::kMaxMessageLength + 1];
    std::size_t length = 0;
    if (HexStringToBytes(request, bytes, sizeof(bytes), length) <= 0) return -1;
    IsoTpAnswerRules rules;
    rules.matches = &AnswersRequest;
    rules.maySuppress = SuppressesPositiveResponse(bytes, length);
    int32_t received = 0;
    const int32_t result = channel_->Transfer(bytes, static_cast<int32_t>(length), responseBuffer_,
                                              sizeof(responseBuffer_), &received, rules);
    if (result < 0) return -1;
    response = BytesToHexString(responseBuffer_, static_cast<std::size_t>(received));
    return 0;
}

}  // namespace diagbridge
