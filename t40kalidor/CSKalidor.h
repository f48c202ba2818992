#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/CSoftwareInterface.h"
#include "t40kalidor/CHKalidor.h"

namespace diagbridge {

// The Kalidor communication object ("KALIDOR") on an RS232 port or the Samtec SamDiaX
// adapter: connect (wake-up in quick mode, one frame awaited in free run), single requests,
// an upload that captures one frame the controller sent by itself, and object information.
class CSKalidor : public CSoftwareInterface {
  public:
    static constexpr const char* kKeyword = "KALIDOR";
    static constexpr const char* kDefaultFirmware = "ISO9141-Tester 4.52.0.0";
    static constexpr const char* kDefaultConfigFile = "Config.spa";
    static constexpr int32_t kSingleRequestTimeoutMs = 10000;
    static constexpr int32_t kUploadTimeoutMs = 30000;
    static constexpr int32_t kOtherTimeoutMs = 180000;

    CSKalidor(IServiceEvents* events, const std::string& parameter);
    ~CSKalidor() override;

    // One exchange, traced when the trace flag is on: 0; -7 no hardware interface; -1 the
    // exchange failed or the reply carried no payload.
    int32_t DataTransfer(const std::string& request, std::string& response) override;
    int32_t GetServiceTimeout() override;
    // "KALIDOR|RS232=%d|SAMTECUSB=%d|BAUDRATE=%d|SAMTECFIRMWARE=%s|SAMTECCONFIGFILE=%s|
    // TRACE=%d|PROGRESS=%d|STATUS=%d".
    std::string GetParameterString() override;
    int32_t ParseParameterString(const std::string& text) override;
    int32_t SetParameter(const std::string& key, const std::string& value) override;

    int32_t ServiceCreateHWObject(ServiceOrder order) override;
    int32_t ServiceDeleteHWObject(ServiceOrder order) override;
    int32_t ServiceConnectToObject(ServiceOrder order) override;
    int32_t ServiceDisconnectFromObject(ServiceOrder order) override;
    int32_t ServiceSingleRequest(ServiceOrder order) override;
    int32_t ServiceUpload(ServiceOrder order) override;
    int32_t ServiceGetObjectInfo(ServiceOrder order) override;

    // Replaces the SamDiaX container that SAMTECUSB=1 builds (tests).
    void UseSamtecContainer(CHKalidor::ContainerFactory makeSamtec);
    // Builds the hardware interface on this container whatever the settings (tests).
    void UseContainer(CHKalidor::ContainerFactory makeContainer);

  private:
    InterfaceSettings interface_;
    int32_t baudrate_ = 9600;
    std::string samtecFirmware_ = kDefaultFirmware;
    std::string samtecConfigFile_ = kDefaultConfigFile;
    CHKalidor::ContainerFactory makeSamtec_;
    CHKalidor::ContainerFactory makeContainer_;
};

std::unique_ptr<CSoftwareInterface> CreateKalidorCommunicationObject(IServiceEvents* events,
                                                                     const std::string& parameter);

}  // namespace diagbridge
