#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "can/CIsoTp.h"
#include "devices/CDeviceContainer.h"
#include "uds/UdsInterfaceSettings.h"

namespace diagbridge {

// The UDS container of a Vector CAN interface: hex byte strings in and out, ISO-TP on the
// channel in between. The address mode is ignored: every request goes out physically.
class CDCVectorUds : public CDeviceContainer {
  public:
    static constexpr const char* kDescription = "VECTOR XL CAN";

    CDCVectorUds(const EcuParameterBlock& configuration, const UdsInterfaceSettings& settings,
                 platform::CancelFlag* cancel);
    // The channel comes from the given source (tests, benchmarks).
    CDCVectorUds(const EcuParameterBlock& configuration, const UdsInterfaceSettings& settings,
                 platform::CancelFlag* cancel, std::unique_ptr<CIsoTp> channel);

    // False when the CAN driver could not be loaded.
    bool Create() override;
    // Opens the channel at the bit rate (0 detects) with the configured identifiers and
    // keep-alive mode; 0 connected, -1 not.
    int32_t DevConnect() override;
    int32_t DevDisconnect() override;
    // 0 with the response text, -1 when the exchange failed (response left unchanged). Only
    // an answer to this request is taken. A request that suppresses its positive response
    // succeeds with an empty response when the ECU stays silent for a P2-sized wait; a
    // response pending followed by silence fails.
    int32_t DevTransferDataEx(int32_t addressMode, std::string request,
                              std::string& response) override;

    // The rate the channel is asked for: bit/s / 1000, with 666666 asked as 667.
    static uint16_t RateKbit(int32_t bitRate);
    CIsoTp& Channel() { return *channel_; }

  private:
    UdsInterfaceSettings interface_;
    std::unique_ptr<CIsoTp> channel_;
    bool connected_ = false;
    uint8_t responseBuffer_[4096] = {};
};

}  // namespace diagbridge
