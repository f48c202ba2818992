#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/CSoftwareInterface.h"
#include "t40kalidor/CHT40.h"

namespace diagbridge {

class CEcu;
class CEcuT4X;

// The T40 communication object ("ISO_9141") on the wired RS232 and the SkyLink adapter:
// connect by 5-baud wake-up with type check and login, identification, single requests,
// upload and the software (boot loader) and data-set downloads from Intel-HEX text. Every
// request goes through DataTransfer; the response's first byte is the controller's code.
class CST40 : public CSoftwareInterface {
  public:
    static constexpr const char* kKeyword = "ISO_9141";
    // Response evaluation.
    static constexpr int32_t kNoResponse = -104;
    static constexpr int32_t kRefused = kResultNegativeResponse;  // also: in its boot loader
    static constexpr int32_t kEraseInProgress = -1000;
    static constexpr int32_t kBusy = -1001;
    static constexpr int32_t kChecksumRequestFailed = -55;
    static constexpr int32_t kChecksumMismatch = -56;
    static constexpr int32_t kSkyLinkInit = 115000;
    static constexpr int32_t kDefaultTimeoutMs = 1000;
    static constexpr std::size_t kSerialKeyBytes = 7;
    static constexpr const char* kUnknownType = "XXXX";
    static constexpr uint32_t kSkyLinkReopenMs = 1000;

    // 0 for a response that is a success, else -104 (nothing), -100 (boot loader or status
    // refusal), -1000 (erase in progress), -1001 (busy).
    static int32_t CheckResponse(const std::string& response);
    // CRC-16 with the reflected polynomial 0x8408, initial 0xFFFF, no final XOR, over the
    // first 7 bytes of the key (zero bytes where fewer).
    static uint16_t LoginKey(const std::vector<uint8_t>& serialKey);

    CST40(IServiceEvents* events, const std::string& parameter);
    ~CST40() override;

    // One exchange with check and trace.
    int32_t DataTransfer(const std::string& request, std::string& response) override;
    // One exchange: 0; -3 a request that is no hex byte string of 1..253 bytes (nothing
    // sent); -5 the service was told to stop; -7 no hardware interface; -1 the exchange
    // failed; with check the result of CheckResponse. With trace the trace line goes out.
    int32_t DataTransfer(const std::string& request, std::string& response, bool check, bool trace);

    int32_t GetServiceTimeout() override;
    int32_t ParseParameterString(const std::string& text) override;
    int32_t SetParameter(const std::string& key, const std::string& value) override;

    int32_t ServiceCreateHWObject(ServiceOrder order) override;
    int32_t ServiceConnectToObject(ServiceOrder order) override;
    int32_t ServiceGetObjectInfo(ServiceOrder order) override;
    int32_t ServiceSetDiagnosticAccess(ServiceOrder order) override;
    int32_t ServiceSingleRequest(ServiceOrder order) override;
    int32_t ServiceUpload(ServiceOrder order) override;
    int32_t ServiceDownload(ServiceOrder order) override;

    // Builds the hardware interface on these containers instead of the configured adapters
    // (tests).
    void UseContainers(CHT40::ContainerFactory makeContainers);

    // 2 software, 5/6 data set, -1 neither; dataSetLength is the controller's.
    static int32_t DetectDownloadKind(const std::string& hexText, uint32_t dataSetLength);

    const std::string& EcuType() const { return ecuType_; }
    // "RS232 at Port %d" or "SKYLINK at Port %d" after a connect.
    const std::string& AdapterText() const { return adapterText_; }
    uint32_t DataSetLength() const { return dataSetLength_; }
    const std::vector<std::string>& DownloadList() const { return downloadList_; }
    const std::string& PartNumberBytes() const { return partNumber_; }
    // The download requests of a software or data-set HEX text; false (list empty) for a
    // text that is not Intel-HEX or holds a record that does not fit a request.
    bool PrepareSoftwareData(const std::string& hexText);
    bool PrepareDataSetData(const std::string& hexText);

  private:
    CHT40* Hardware() const;
    int32_t ReadEcuType();
    std::string ReadHardwareVersion(int32_t& result);
    int32_t ReadIdentBlock(std::vector<uint8_t>& bytes);
    int32_t ReadSerialData();
    int32_t Login();
    int32_t WakeOrEnterFlash(const char* prefix);
    int32_t CheckEcuIdent(CEcu& ecu);
    int32_t RestartCommunication();
    // Upload: a line failure on the way is kept in uploadResult_.
    void NoteUploadResult(int32_t result);
    void UploadTransfer(const std::string& request, std::string& response);
    std::string HeaderSection(CEcuT4X& ecu);
    std::string IdentSection(CEcuT4X& ecu);
    std::string EventSection();
    std::string MemorySection(const char* heading, uint32_t start, uint32_t blocks);
    // Download.
    int32_t SetFlashMode();
    int32_t SendDownloadList();
    int32_t DownloadSoftware();
    int32_t SetDownloadBaudrate();
    int32_t DownloadDataSet();
    int32_t CompareChecksum();

    InterfaceSettings interface_;
    CHT40::ContainerFactory makeContainers_;
    std::string ecuType_;
    std::string adapterText_;
    std::string identHardware_;        // the hardware version read by the upload header
    std::vector<uint8_t> identBlock_;  // the ident block read by the upload header
    std::string serialKey_;
    uint32_t dataSetLength_ = 0;
    std::string partNumber_;
    std::vector<std::string> downloadList_;
    int32_t uploadResult_ = kResultOk;
    int16_t downloadProgress_ = 0;
};

std::unique_ptr<CSoftwareInterface> CreateT40CommunicationObject(IServiceEvents* events,
                                                                 const std::string& parameter);

}  // namespace diagbridge
