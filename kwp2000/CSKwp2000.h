#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/CSoftwareInterface.h"
#include "kwp2000/CHKwp2000.h"
#include "kwp2000/KwpInterfaceSettings.h"

namespace diagbridge {

class CEcu;
class CEcuKwp2000;
struct KwpUploadValues;

// The KWP2000 communication object ("KWP2000") on the K-line adapters: ECU search and
// connect with ident check, keep-alive between services, diagnostic session with security
// access and timing parameters, single requests, uploads, identification and downloads from
// Intel-HEX text. Every request goes through DataTransfer.
//
// Upload identification: the model's own table when it has one (21 and each local
// identifier), else 1A 80 and each listed option A0..AF; a refused option is kept as invalid.
// Object info of an ECU that is not connected: the configuration (addresses and what the
// search found). A download checks every record before anything is sent; FRAM data (type 7)
// given as such must lie inside the FRAM layout the ECU reports. The upgrade-status wait
// restarts the connection by disconnect and connect.
class CSKwp2000 : public CSoftwareInterface {
  public:
    static constexpr const char* kKeyword = "KWP2000";
    // Result codes of the KWP2000 services.
    static constexpr int32_t kHexConvertFailed = kResultHexMalformed;
    static constexpr int32_t kRequestDownloadFailed = kResultRequestDownloadFailed;
    static constexpr int32_t kTransferDataFailed = kResultTransferDataFailed;
    static constexpr int32_t kTransferExitFailed = kResultTransferExitFailed;
    static constexpr int32_t kDateReadFailed = -57;
    static constexpr int32_t kDateWriteFailed = -58;
    // The ECU reported the upgrade failed, or never reported it done.
    static constexpr int32_t kUpgradeFailed = -59;
    static constexpr int32_t kNegativeResponse = kResultNegativeResponse;
    static constexpr int32_t kUnexpectedResponse = -101;
    static constexpr int32_t kKeyRefused = -102;       // NRC 35 or 36
    static constexpr int32_t kDelayNotExpired = -103;  // NRC 37
    // Time the keep-alive is given while a long HEX text is parsed.
    static constexpr uint32_t kParseKeepAliveMs = 2000;

    CSKwp2000(IServiceEvents* events, const std::string& parameter);
    ~CSKwp2000() override;

    // One exchange, checked and traced: see the four-argument form.
    int32_t DataTransfer(const std::string& request, std::string& response) override;
    // One exchange of a hex byte string. 0; -3 a request that is no hex byte string of 1..255
    // bytes (nothing sent); -5 the service was told to stop; -7 no hardware interface; -1 the
    // exchange failed. With check: -100 for a negative response, -101 for any answer that is
    // not the request's service id + 0x40. With trace the exchange's trace line goes out.
    int32_t DataTransfer(const std::string& request, std::string& response, bool check, bool trace);

    // 999999 when no tester present is due (less than TESTERPRESENT ms since the last one,
    // keep-alive off, or not connected); else the tester-present result. -7 without hardware.
    int32_t ServiceKeepAlive() override;
    // The keep-alive loop sleeps until the next tester present is due (at most
    // kMaxKeepAlivePauseMs), instead of waking every 10 ms for a tick comparison.
    uint32_t PassPauseMs() const override;
    static constexpr uint32_t kMaxKeepAlivePauseMs = 250;
    int32_t SetKeepAlive(int32_t phase) override;
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
    int32_t ServiceJob(ServiceOrder order) override;

    const KwpInterfaceSettings& InterfaceSettings() const { return interface_; }
    // Builds the hardware interface on these containers instead of the configured adapters
    // (tests).
    void UseContainers(CHKwp2000::ContainerFactory makeContainers);
    // Source of today's date "%Y-%m-%d" for the programming date (tests).
    void UseDateSource(std::function<std::string()> today);

    // Identification text of option (1A option): "XXXXX" when it cannot be read; option 8F
    // as a date "2024-03-07", option BF as a number.
    std::string ReadEcuIdent(uint8_t option);

  private:
    CHKwp2000* Hardware() const;
    int32_t DetectAndConnect(CEcu& ecu);
    // Diagnostic access.
    int32_t InitOemAccess(int32_t oemId);
    int32_t SetDiagnosticSession(uint8_t mode, int32_t baudrate);
    int32_t SetSecurityAccess(uint8_t mode);
    int32_t SendKey(CEcu& ecu, uint8_t mode, const std::vector<uint8_t>& seedAnswer);
    int32_t AccessTimingParameters();
    // Upload.
    void PrepareUploadHeader(CEcuKwp2000& ecu);
    int32_t UploadMemory(CEcuKwp2000& ecu);
    // One identification read kept as a value (invalid when refused); negative only when
    // the line failed.
    int32_t ReadIdentValue(const std::string& request, uint8_t option, KwpUploadValues& upload);
    int32_t UploadIdent(CEcuKwp2000& ecu);
    int32_t UploadEvents(CEcuKwp2000& ecu);
    int32_t UploadSid(CEcuKwp2000& ecu);
    std::string ConfigurationText(CEcu& ecu) const;
    // Download.
    int32_t DetermineType(const ServiceOrder& order, int32_t& type, uint32_t& start);
    int32_t DetectType(const std::string& hexText, int32_t& type, uint32_t& start);
    bool ReadFramLayout(uint32_t& start, uint32_t& end);
    int32_t ParseRecords(const std::string& hexText);
    int32_t SendRecords();
    int32_t StampProgrammingDate();
    // The outcome of the upgrade: 0 done (or not watched), -59 failed or never done, -1 no
    // answer, -7 no hardware, -5 stopped by the time-out.
    int32_t WaitUpgradeStatus(int32_t type);
    int32_t WaitLoaderRestart();
    int32_t PollUpgradeStatus();
    void Reconnect();

    KwpInterfaceSettings interface_;
    CHKwp2000::ContainerFactory makeContainers_;
    std::function<std::string()> today_;
    std::vector<std::string> records_;
};

std::unique_ptr<CSoftwareInterface> CreateKwp2000CommunicationObject(IServiceEvents* events,
                                                                     const std::string& parameter);

}  // namespace diagbridge
