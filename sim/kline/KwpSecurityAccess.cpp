#include "sim/kline/KwpSecurityAccess.h"

#include <utility>

#include "platform/Clock.h"
#include "sim/kline/KwpNegativeCodes.h"

namespace diagbridge::sim {

namespace {
constexpr uint8_t kService = 0x27;
constexpr uint8_t kPositive = 0x67;
constexpr uint8_t kNegative = 0x7F;
constexpr uint8_t kAccessAllowed = 0x34;
constexpr size_t kSeedRequestLength = 2;
constexpr size_t kKeyRequestLength = 4;
// A 16-bit linear congruential sequence: every seed differs from the last one.
constexpr uint16_t kSeedFactor = 0x6255;
constexpr uint16_t kSeedIncrement = 0x3619;
}  // namespace

KwpSecurityAccess::KwpSecurityAccess(std::vector<KwpSecurityLevel> levels, uint16_t firstSeed)
    : levels_(std::move(levels)), seedState_(firstSeed) {}

void KwpSecurityAccess::Handle(const uint8_t* request, size_t length, uint8_t diagnosticMode,
                               std::vector<uint8_t>& response) {
    uint8_t code = kwpnrc::kInvalidFormat;
    if (length >= kSeedRequestLength) {
        const uint8_t subFunction = request[1];
        for (const KwpSecurityLevel& level : levels_) {
            if (subFunction == level.seedSubFunction && length == kSeedRequestLength) {
                code = AnswerSeed(level, response);
            } else if (subFunction == level.keySubFunction && length == kKeyRequestLength) {
                const auto key = static_cast<uint16_t>((request[2] << 8) | request[3]);
                code = CheckKey(level, key, diagnosticMode, response);
            } else {
                continue;
            }
            break;
        }
    }
    if (code != kwpnrc::kNone) response = {kNegative, kService, code};
}

void KwpSecurityAccess::Lock() {
    unlocked_ = 0;
    pending_ = 0;
}

uint8_t KwpSecurityAccess::AnswerSeed(const KwpSecurityLevel& level,
                                      std::vector<uint8_t>& response) {
    if (LockedOut()) return kwpnrc::kDelayNotExpired;
    if (unlocked_ == level.seedSubFunction) {
        response = {kPositive, level.seedSubFunction, 0x00, 0x00};
        return kwpnrc::kNone;
    }
    seed_ = NextSeed();
    pending_ = level.seedSubFunction;
    response = {kPositive, level.seedSubFunction, static_cast<uint8_t>(seed_ >> 8),
                static_cast<uint8_t>(seed_)};
    return kwpnrc::kNone;
}

uint8_t KwpSecurityAccess::CheckKey(const KwpSecurityLevel& level, uint16_t key,
                                    uint8_t diagnosticMode, std::vector<uint8_t>& response) {
    if (LockedOut()) return kwpnrc::kDelayNotExpired;
    if (pending_ != level.seedSubFunction) return kwpnrc::kSequenceError;
    pending_ = 0;  // every key attempt needs a fresh seed
    if (key != KwpAccessKey(level.routine, seed_, diagnosticMode)) {
        if (++failures_ < kMaxAttempts) return kwpnrc::kInvalidKey;
        lockedSince_ = platform::Clock().TickMs();
        return kwpnrc::kAttemptsExceeded;
    }
    failures_ = 0;
    unlocked_ = level.seedSubFunction;
    response = {kPositive, level.keySubFunction, kAccessAllowed};
    return kwpnrc::kNone;
}

bool KwpSecurityAccess::LockedOut() {
    if (failures_ < kMaxAttempts) return false;
    if (platform::ElapsedMs(lockedSince_, platform::Clock().TickMs()) < kLockoutMs) return true;
    failures_ = 0;
    return false;
}

uint16_t KwpSecurityAccess::NextSeed() {
    do {
        seedState_ = static_cast<uint16_t>(seedState_ * kSeedFactor + kSeedIncrement);
    } while (seedState_ == 0);
    return seedState_;
}

}  // namespace diagbridge::sim
