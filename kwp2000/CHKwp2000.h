#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/CHardwareInterface.h"
#include "kwp2000/KwpInterfaceSettings.h"
#include "platform/Clock.h"

namespace diagbridge {

// The KWP2000 view of the tester hardware: up to three containers (0 Samtec, 1 RS232,
// 2 SkyLink). The ECU search picks the container and the address pair under which the ECU
// answers; every later operation goes to that container and answers -7 while it is missing.
class CHKwp2000 : public CHardwareInterface {
  public:
    static constexpr int32_t kSamtecSlot = 0;
    static constexpr int32_t kRs232Slot = 1;
    static constexpr int32_t kSkyLinkSlot = 2;
    static constexpr const char* kSamtecError = "SAMTEC device error\nCheck your configuration!!";
    static constexpr const char* kRs232Error = "RS232 device error\nCheck your configuration!!";
    static constexpr const char* kSkyLinkError = "SkyLink device error\nCheck your configuration!!";

    // Makes the container of one slot; null when that adapter cannot be built.
    using ContainerFactory = std::function<std::unique_ptr<CDeviceContainer>(
        int32_t slot, const EcuParameterBlock&, const InterfaceSettings&)>;

    // The configured adapters; cancel (may be null) ends the containers' waits. The Samtec
    // adapter is not part of this build: asking for it is reported and passed over.
    CHKwp2000(const EcuParameterBlock& configuration, const KwpInterfaceSettings& settings,
              platform::CancelFlag* cancel);
    // As above with containers from makeContainer (tests).
    CHKwp2000(const EcuParameterBlock& configuration, const KwpInterfaceSettings& settings,
              const ContainerFactory& makeContainer);

    // The parameter block the search works on (found flags, ident texts, addresses); the
    // containers take it too (the model's line timing).
    const EcuParameterBlock& Configuration() const { return configuration_; }
    void SetConfiguration(const EcuParameterBlock& configuration);
    int32_t CurrentIndex() const { return currentContainer_; }

    int32_t HALSetBaudRate(int32_t baud) override;
    int32_t HALSetTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override;
    int32_t HALUseTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override;
    // Tries every present container with every address entry: 0 found (the container is
    // current, set to the found pair and disconnected), -7 no answer anywhere.
    int32_t HALDetectEcu() override;
    // 1 woke the ECU now, 0 was connected, -1 failed.
    int32_t HALConnect() override;
    int32_t HALDisconnect() override;
    // Empties response first; 0, or -7 when the exchange failed.
    int32_t HALTransferData(std::string request, std::string& response) override;
    int32_t HALSetAddress(uint8_t tester, uint8_t ecu) override;
    // 0 answered 7E, -1 not.
    int32_t HALTesterPresent() override;
    // Text of the answer to 1A 93: the bytes after 5A and the option as characters, zero
    // bytes skipped; empty without a container or a positive answer.
    std::string HALGetEcuHardwareVersion() override;
    // 6 on a SkyLink container, else id.
    int32_t HALAdjustBaudrateId(int32_t id) override;
    // As HALGetEcuHardwareVersion with 1A 92.
    std::string GetEcuHardwareNumber();

  private:
    void Build(const KwpInterfaceSettings& settings, const ContainerFactory& makeContainer);
    std::string IdentText(const char* request);
    void RecordHit(int32_t slot, int32_t entry);
};

}  // namespace diagbridge
