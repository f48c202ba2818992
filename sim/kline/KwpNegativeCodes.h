#pragma once
#include <cstdint>

namespace diagbridge::sim {

// Negative response codes (7F service code) of the virtual KWP2000 ECU.
namespace kwpnrc {
constexpr uint8_t kNone = 0x00;  // no negative answer: the request is accepted
constexpr uint8_t kServiceNotSupported = 0x11;
constexpr uint8_t kInvalidFormat = 0x12;  // sub-function not supported or wrong length
constexpr uint8_t kBusyRepeatRequest = 0x21;
constexpr uint8_t kSequenceError = 0x22;  // conditions not correct or request sequence error
constexpr uint8_t kOutOfRange = 0x31;
constexpr uint8_t kAccessDenied = 0x33;
constexpr uint8_t kInvalidKey = 0x35;
constexpr uint8_t kAttemptsExceeded = 0x36;
constexpr uint8_t kDelayNotExpired = 0x37;
constexpr uint8_t kImproperDownloadType = 0x41;
constexpr uint8_t kAddressNotDownloadable = 0x42;
constexpr uint8_t kSizeNotDownloadable = 0x43;
constexpr uint8_t kIllegalAddress = 0x74;
constexpr uint8_t kIllegalRecordType = 0x76;
constexpr uint8_t kRecordChecksum = 0x77;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kWrongByteCount = 0x79;
constexpr uint8_t kNotInActiveSession = 0x80;  // service not supported in the active session
}  // namespace kwpnrc

}  // namespace diagbridge::sim
