#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ecu/AccessStep.h"
#include "engine/CSoftwareInterface.h"
#include "uds/UdsInterfaceSettings.h"
#include "uds/UdsTransferDatablock.h"

namespace diagbridge {

class CDeviceContainer;
class CHUdsIso14229;

// The UDS communication object ("UDS_ISO_14229"): connect with fingerprint, diagnostic
// access from the model's table, single requests, identification, uploads and downloads,
// each exchange through ExtDataTransfer.
class CSUdsIso14229 : public CSoftwareInterface {
  public:
    static constexpr const char* kKeyword = "UDS_ISO_14229";
    // Result codes of the UDS services.
    static constexpr int32_t kAccessFailed = -8;
    static constexpr int32_t kEraseFailed = -51;
    static constexpr int32_t kRequestDownloadFailed = kResultRequestDownloadFailed;
    static constexpr int32_t kTransferDataFailed = kResultTransferDataFailed;
    static constexpr int32_t kTransferExitFailed = kResultTransferExitFailed;
    static constexpr int32_t kDependencyCheckRefused = -55;
    static constexpr int32_t kDependencyStatusBad = -56;
    static constexpr int32_t kNegativeResponse = kResultNegativeResponse;
    static constexpr int32_t kNoSuchAccess = -105;

    CSUdsIso14229(IServiceEvents* events, const std::string& parameter);
    ~CSUdsIso14229() override;

    // One exchange: 0, -1 failed, -3 a request that is no hex byte string or longer than
    // 4095 bytes (nothing sent), -7 no hardware, -100 negative response when checked.
    // The trace line is raised when trace is set (and tracing is on).
    int32_t ExtDataTransfer(int32_t addressMode, const std::string& request,
                            std::string& response) override;
    int32_t Exchange(int32_t addressMode, const std::string& request, std::string& response,
                     bool checkNegative, bool trace);

    int32_t GetServiceTimeout() override;
    std::string GetParameterString() override;
    int32_t ParseParameterString(const std::string& text) override;
    int32_t SetParameter(const std::string& key, const std::string& value) override;

    int32_t ServiceCreateHWObject(ServiceOrder order) override;
    int32_t ServiceConnectToObject(ServiceOrder order) override;
    int32_t ServiceGetObjectInfo(ServiceOrder order) override;
    int32_t ServiceSetDiagnosticAccess(ServiceOrder order) override;
    int32_t ServiceSingleRequest(ServiceOrder order) override;
    int32_t ServiceUpload(ServiceOrder order) override;
    int32_t ServiceDownload(ServiceOrder order) override;

    const UdsInterfaceSettings& InterfaceSettings() const { return interface_; }
    // Builds the hardware interface on this container instead of the configured adapter
    // (tests and benchmarks: a channel on a chosen bus).
    void UseContainer(
        std::function<std::unique_ptr<CDeviceContainer>(
            const EcuParameterBlock&, const UdsInterfaceSettings&, platform::CancelFlag*)>
            makeContainer);

  protected:
    void AfterService(int32_t command) override;

  private:
    CHUdsIso14229* Hardware() const;
    // Access steps.
    // Copies table entry index into the selected step. The client may only choose enabled
    // entries; the services' own session-only steps may use a disabled one.
    int32_t SelectAccess(int32_t index, bool requireEnabled = true);
    int32_t RunSession();
    int32_t RunSecurityAccess();
    int32_t RunFingerprint();
    int32_t OpenAccess(int32_t index);
    int32_t WriteTesterFingerprint(CEcu& ecu, int32_t connectResult);
    void ApplyEvoBusWorkaround(CEcu& ecu);
    // Object info.
    std::string GetEcuIdentData(uint8_t ident);
    // Upload.
    int32_t UploadShortForm(CEcu& ecu, const ServiceOrder& order);
    int32_t UploadFullForm(CEcu& ecu, const ServiceOrder& order);
    int32_t HeaderSection(CEcu& ecu, std::string& section);
    int32_t DataBlockSection(std::string& section);
    int32_t MemorySection(CEcu& ecu, bool fullForm, std::string& section);
    int32_t IdentSection(bool decode, std::string& section);
    int32_t EventSectionShort(std::string& section);
    int32_t EventSectionFull(std::string& section);
    int32_t EventPart(const char* heading, uint8_t formatService, uint8_t listService,
                      uint8_t extendedService, std::string& part);
    int32_t SidSection(std::string& section);
    // Download.
    int32_t PreProgramming();
    int32_t PostProgramming();
    int32_t MainProgramming(const ServiceOrder& order);
    int32_t TransferBlock(std::size_t index, const UdsTransferDatablockTag& block,
                          uint32_t totalBytes);
    int32_t SendTransfer(std::vector<uint8_t>& buffer, uint32_t totalBytes, bool firstOfLaterBlock);
    int32_t SendTransferRequest(const std::vector<uint8_t>& buffer, std::string& response);
    int32_t CheckDependencies();
    void SetChannelModeIfFingerprinted(int32_t mode);

    UdsInterfaceSettings interface_;
    AccessStep selectedAccess_;
    std::function<std::unique_ptr<CDeviceContainer>(
        const EcuParameterBlock&, const UdsInterfaceSettings&, platform::CancelFlag*)>
        makeContainer_;
    // Download state.
    std::vector<UdsTransferDatablockTag> blocks_;
    uint32_t crc_ = 0;
    uint32_t sentBytes_ = 0;
    uint8_t blockCounter_ = 0;
    // The ECU restarts the block sequence counter with every request download (ISO 14229)
    // instead of counting on across the blocks of the download.
    bool counterRestartsPerBlock_ = false;
    uint32_t bytesPerTransfer_ = 0;
    int32_t lastPercent_ = 0;
};

std::unique_ptr<CSoftwareInterface> CreateUdsCommunicationObject(IServiceEvents* events,
                                                                 const std::string& parameter);

}  // namespace diagbridge
