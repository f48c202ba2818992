#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::sim {

// A fault of the service side of a virtual KWP2000 ECU, acting on the requests of one service
// (or of all) until it is used up.
struct KwpServiceFault {
    static constexpr uint8_t kAnyService = 0x00;
    static constexpr uint32_t kEveryRequest = 0;

    enum class Kind : uint8_t {
        kSilence,   // no answer at all
        kPending,   // value answers 7F xx 78 (response pending), then the real answer
        kBusy,      // 7F xx 21 (busy, repeat request) instead of the answer
        kNegative,  // 7F xx value instead of the answer
        kForeign,   // the bytes of answer instead of the answer (another service's answer)
    };
    Kind kind = Kind::kSilence;
    uint8_t service = kAnyService;
    uint8_t value = 0;
    uint32_t times = kEveryRequest;  // matching requests it acts on; kEveryRequest: no end
    std::vector<uint8_t> answer{};   // kForeign
};

// Everything the fault options of the virtual KWP2000 ECU can set.
struct KwpFaultOptions {
    std::vector<KwpServiceFault> serviceFaults;  // the first that matches a request acts
    // For the line (KlineFaults): frames left unanswered, StartCommunication included, and
    // responses sent with a wrong checksum.
    uint32_t silentRequests = 0;
    uint32_t badChecksumResponses = 0;
    std::string objectType;     // not empty: 1A 93 and 1A 8E report this other object type
    bool upgradeFails = false;  // the upgrade status after a download ends as failed
};

// The accepted texts, one per line, for a help screen.
extern const char* const kKwpFaultSyntax;

// Adds what one fault text says to options. False with a message in error for a text of
// no known form; options is then unchanged.
bool ParseKwpFault(const std::string& text, KwpFaultOptions& options, std::string& error);

}  // namespace diagbridge::sim
