#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/kline/KwpEcuModel.h"

namespace diagbridge::sim {

// SecurityAccess (27) of a virtual KWP2000 ECU: a seed per request, the key checked with the
// level's routine in the session's diagnostic mode, and a lock-out after too many wrong keys
// that lasts kLockoutMs on the platform clock. A level already unlocked answers the seed 0.
class KwpSecurityAccess {
  public:
    static constexpr uint32_t kMaxAttempts = 3;
    static constexpr uint32_t kLockoutMs = 10000;

    // levels: the model's; firstSeed: where the seed sequence starts (any value).
    KwpSecurityAccess(std::vector<KwpSecurityLevel> levels, uint16_t firstSeed);

    // request: a complete 27 request (service byte first, length bytes). Writes the
    // positive answer (67 ...) or 7F 27 code into response.
    void Handle(const uint8_t* request, size_t length, uint8_t diagnosticMode,
                std::vector<uint8_t>& response);
    // Locks again (new session, communication stopped); the lock-out keeps running.
    void Lock();
    // The seed sub-function of the unlocked level, 0 while locked.
    uint8_t UnlockedLevel() const { return unlocked_; }
    uint16_t LastSeed() const { return seed_; }

  private:
    uint8_t AnswerSeed(const KwpSecurityLevel& level, std::vector<uint8_t>& response);
    uint8_t CheckKey(const KwpSecurityLevel& level, uint16_t key, uint8_t diagnosticMode,
                     std::vector<uint8_t>& response);
    bool LockedOut();
    uint16_t NextSeed();

    std::vector<KwpSecurityLevel> levels_;
    uint16_t seedState_;
    uint16_t seed_ = 0;
    uint8_t pending_ = 0;   // seed sub-function whose key is awaited, 0 none
    uint8_t unlocked_ = 0;  // seed sub-function of the unlocked level, 0 none
    uint32_t failures_ = 0;
    uint32_t lockedSince_ = 0;
};

}  // namespace diagbridge::sim
