#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::sim {

// A fault of one service, in force from its n-th request on.
struct UdsServiceFault {
    enum class Kind : uint8_t {
        kNegative,  // answer 7F <service> <responseCode> instead of the service's answer
        kSilent,    // answer nothing, and do not run the service
        kPending,   // send pendingCount times 7F <service> 78, pendingIntervalMs apart, first
        kForeign,   // answer the bytes of answer instead (another service's answer)
    };
    static constexpr uint32_t kDefaultPendingIntervalMs = 50;

    Kind kind = Kind::kNegative;
    uint8_t service = 0;
    uint8_t responseCode = 0;
    uint32_t fromRequest = 1;  // 1 = every request of the service
    uint32_t pendingCount = 0;
    uint32_t pendingIntervalMs = kDefaultPendingIntervalMs;
    std::vector<uint8_t> answer{};  // kForeign
};

// Faults of the ECU's ISO-TP layer.
struct UdsTransportFaults {
    uint32_t dropConsecutiveFrame = 0;  // the n-th consecutive frame of a response is not sent
    uint32_t badSequenceFrame = 0;      // the n-th consecutive frame carries a wrong number
    uint32_t flowControlWaits = 0;      // flow controls "wait" sent before each "continue"
    bool flowControlOverflow = false;   // every first frame is answered with "overflow"
};

// How the ECU answers a download where controllers differ; chosen like the faults.
struct UdsDownloadStyle {
    static constexpr uint8_t kDefaultLengthBytes = 2;
    // ISO 14229: the block sequence counter starts at 01 with every request download; off,
    // it counts on across the blocks of one download (the T6x programming sequence).
    bool counterRestarts = false;
    // Bytes of the maximum block length in the request download answer (1..4).
    uint8_t lengthBytes = kDefaultLengthBytes;
};

// What the ECU does with one request under the plan.
struct UdsFaultAction {
    bool silent = false;
    int16_t negativeCode = -1;  // -1: the service answers itself
    uint32_t pendingCount = 0;
    uint32_t pendingIntervalMs = 0;
    std::vector<uint8_t> foreignAnswer;  // not empty: sent instead of the service's answer
};

// The faults a virtual ECU injects. Not thread-safe: its owner locks.
class UdsFaultPlan {
  public:
    void Add(const UdsServiceFault& fault) { faults_.push_back(fault); }
    // Counts one request of service and gives what the faults in force make of it.
    UdsFaultAction OnRequest(uint8_t service);

    UdsTransportFaults transport;
    UdsDownloadStyle download;

  private:
    std::vector<UdsServiceFault> faults_;
    std::array<uint32_t, 256> requests_{};
};

// Adds the fault described by text to plan; false with error set for a malformed text.
//   nrc:<sid>:<code>[@<n>]        negative response (hex service id and code)
//   silent:<sid>[@<n>]            no answer
//   pending:<sid>:<count>[:<ms>]  response pending series before the answer
//   foreign:<sid>:<hex bytes>[@<n>] these bytes (e.g. 7E00, 7F3E11) instead of the answer
//   drop-cf:<n>                   n-th consecutive frame of each response left out
//   bad-sn:<n>                    n-th consecutive frame with a wrong sequence number
//   fc-wait:<count>               flow controls "wait" before each "continue"
//   fc-overflow                   every first frame refused with "overflow"
//   counter-restarts              block sequence counter 01 with every request download
//   length-format:<n>             maximum block length in n bytes (1..4) in the 74 answer
// @<n>: from the n-th request of the service on (decimal, default 1).
bool ParseUdsFault(const std::string& text, UdsFaultPlan& plan, std::string& error);

}  // namespace diagbridge::sim
