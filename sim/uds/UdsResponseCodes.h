#pragma once
#include <cstdint>

// Negative response codes of ISO 14229-1 that the virtual ECU gives.
namespace diagbridge::sim::nrc {

constexpr uint8_t kServiceNotSupported = 0x11;
constexpr uint8_t kSubFunctionNotSupported = 0x12;
constexpr uint8_t kIncorrectLength = 0x13;
constexpr uint8_t kResponseTooLong = 0x14;
constexpr uint8_t kConditionsNotCorrect = 0x22;
constexpr uint8_t kRequestSequenceError = 0x24;
constexpr uint8_t kRequestOutOfRange = 0x31;
constexpr uint8_t kSecurityAccessDenied = 0x33;
constexpr uint8_t kInvalidKey = 0x35;
constexpr uint8_t kExceededNumberOfAttempts = 0x36;
constexpr uint8_t kRequiredTimeDelayNotExpired = 0x37;
constexpr uint8_t kTransferDataSuspended = 0x71;
constexpr uint8_t kGeneralProgrammingFailure = 0x72;
constexpr uint8_t kWrongBlockSequenceCounter = 0x73;
constexpr uint8_t kSubFunctionNotSupportedInSession = 0x7E;
constexpr uint8_t kServiceNotSupportedInSession = 0x7F;

}  // namespace diagbridge::sim::nrc
