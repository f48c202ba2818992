#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/kline/IKlineResponder.h"
#include "sim/kline/KwpDownloadImage.h"
#include "sim/kline/KwpEcuModel.h"
#include "sim/kline/KwpSecurityAccess.h"
#include "sim/kline/KwpServiceFaults.h"

namespace diagbridge::sim {

struct KwpResponderOptions {
    // RequestDownload (34) and WriteDataByLocalIdentifier (3B) need an unlocked security
    // level, as on the controllers.
    bool writesNeedSecurity = true;
    // Not empty: 1A 93 and 1A 8E report this object type instead of the model's.
    std::string objectType;
    // The upgrade status after a download ends as failed (state 3).
    bool upgradeFails = false;
    // Where the seed sequence of SecurityAccess starts.
    uint16_t firstSeed = 0x4A17;
};

// The KWP2000 services of a virtual controller on a K-line (the line answers
// StartCommunication and StopCommunication itself):
//   10 StartDiagnosticSession (mode, optional baud-rate id or 06 + 24-bit baud rate)
//   1A ReadEcuIdentification (80 lists the options)  3B WriteDataByLocalIdentifier (8F date)
//   21 ReadDataByLocalIdentifier (memory map, 03 upgrade status)  23 ReadMemoryByAddress
//   27 SecurityAccess  83 AccessTimingParameters (00 limits, 01 defaults, 02 current, 03 set)
//   18 ReadDiagnosticTroubleCodesByStatus  17 ReadStatusOfDiagnosticTroubleCodes
//   14 ClearDiagnosticInformation  34/36/37 download of Intel-HEX records (34 only outside
//   the default session)  3E TesterPresent
// Every other service gets 7F xx 11. Thread-safe: the line's thread answers while a test
// or the program injects faults and looks at the state.
class KwpServiceResponder final : public IKlineResponder {
  public:
    // Upgrade status states of 21 03.
    static constexpr uint8_t kUpgradeIdle = 0;
    static constexpr uint8_t kUpgradeBusy = 1;
    static constexpr uint8_t kUpgradeOk = 2;
    static constexpr uint8_t kUpgradeFailed = 3;
    static constexpr uint8_t kDefaultSession = 0x81;
    static constexpr uint32_t kDefaultBaudRate = 10400;
    static constexpr size_t kTimingCount = 5;  // P2MIN, P2MAX, P3MIN, P3MAX, P4MIN
    using TimingCodes = std::array<uint8_t, kTimingCount>;
    // The controller's limits (83 00) and defaults (83 01), as ISO 14230 codes.
    static constexpr TimingCodes kTimingLimits = {0x00, 0x28, 0x00, 0x28, 0x00};
    static constexpr TimingCodes kTimingDefaults = {0x32, 0x02, 0x6E, 0x14, 0x0A};

    KwpServiceResponder(const KwpEcuModel& model, const KwpResponderOptions& options);

    // The final answer to request (after any pending answers); false: silent.
    bool Respond(const std::vector<uint8_t>& request, std::vector<uint8_t>& response) override;
    // All frames that answer request, the injected faults applied.
    bool RespondSeries(const std::vector<uint8_t>& request,
                       std::vector<std::vector<uint8_t>>& responses) override;
    // Either way the controller falls back to the default session, locked, and a download
    // that was running is abandoned.
    void CommunicationChanged(bool started) override;
    // The baud rate of the session and the P2min, P2max and P3min of the timing in force.
    KlineTiming LineTiming() const override;

    // Replaces the pending service faults.
    void InjectFaults(const std::vector<KwpServiceFault>& faults);

    const KwpEcuModel& Model() const { return model_; }
    uint8_t Session() const;
    uint32_t BaudRate() const;  // of the last session request, bit/s
    uint8_t UnlockedLevel() const;
    uint16_t LastSeed() const;
    TimingCodes Timing() const;
    // The answer data of 1A option (without 5A and the option); empty when unknown.
    std::vector<uint8_t> Ident(uint8_t option) const;
    // A copy of the download state and the bytes it stored.
    KwpDownloadImage Image() const;
    uint32_t DownloadsCompleted() const;

  private:
    using Bytes = std::vector<uint8_t>;
    // Writes the answer into response; leaves it empty to stay silent.
    using Handler = void (KwpServiceResponder::*)(const Bytes&, Bytes&);
    struct Service {
        uint8_t id;
        Handler handler;
    };
    static const std::array<Service, 14> kServices;

    bool Answer(const Bytes& request, Bytes& response);
    // The fault that acts on a request of service, used up by one.
    std::optional<KwpServiceFault> TakeFault(uint8_t service);
    void Reset();

    void StartSession(const Bytes& request, Bytes& response);
    void ReadIdent(const Bytes& request, Bytes& response);
    void WriteData(const Bytes& request, Bytes& response);
    void ReadLocalData(const Bytes& request, Bytes& response);
    void ReadMemory(const Bytes& request, Bytes& response);
    void SecurityAccess(const Bytes& request, Bytes& response);
    void TimingParameters(const Bytes& request, Bytes& response);
    // 83 03: takes the five codes when each keeps within its limit.
    void SetTiming(const uint8_t* codes, Bytes& response);
    void ReadTroubleCodes(const Bytes& request, Bytes& response);
    void ReadTroubleCodeStatus(const Bytes& request, Bytes& response);
    void ClearTroubleCodes(const Bytes& request, Bytes& response);
    void RequestDownload(const Bytes& request, Bytes& response);
    void TransferData(const Bytes& request, Bytes& response);
    void TransferExit(const Bytes& request, Bytes& response);
    void TesterPresent(const Bytes& request, Bytes& response);

    void AnswerUpgradeStatus(Bytes& response);
    // Writes the downloaded bytes that fall into the readable memory.
    void ApplyImageToMemory();
    KwpIdentRecord* FindIdent(uint8_t option);

    mutable std::mutex mutex_;
    const KwpEcuModel model_;
    const KwpResponderOptions options_;
    std::vector<KwpIdentRecord> idents_;
    std::vector<Bytes> memory_;  // contents of model_.memoryAreas
    std::vector<KwpTroubleCode> troubleCodes_;
    std::vector<KwpServiceFault> faults_;
    KwpSecurityAccess security_;
    KwpDownloadImage image_;
    uint8_t session_ = kDefaultSession;
    uint32_t baudRate_ = kDefaultBaudRate;
    TimingCodes timing_ = kTimingDefaults;
    uint8_t upgradeState_ = kUpgradeIdle;
    uint8_t upgradePercent_ = 0;
    uint32_t downloadsCompleted_ = 0;
};

}  // namespace diagbridge::sim
