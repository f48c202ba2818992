#pragma once
#include <cstdint>
#include <string>

namespace diagbridge::samtec {

// The adapter's account of a failed request: number, type and message (members 17, 46, 55).
struct SamError {
    int32_t number = 0;
    int32_t type = 0;
    std::string message;
};

// Error types.
constexpr int32_t kErrorTypeBus = 1;       // the wire: no acknowledge, no answer
constexpr int32_t kErrorTypeProtocol = 2;  // wrong or broken frames
constexpr int32_t kErrorTypeUsage = 3;     // a request the adapter cannot carry, not started

// Error numbers and their messages.
struct SamErrorText {
    int32_t number;
    int32_t type;
    const char* message;
};
constexpr SamErrorText kNotStarted = {1, kErrorTypeUsage, "Communication not started"};
constexpr SamErrorText kBadRequest = {2, kErrorTypeUsage, "Request not a hex byte string"};
constexpr SamErrorText kNoAcknowledge = {3, kErrorTypeBus, "No acknowledge on the bus"};
constexpr SamErrorText kNoResponse = {4, kErrorTypeBus, "No response from the ECU"};
constexpr SamErrorText kBrokenResponse = {5, kErrorTypeProtocol, "Response frames out of order"};
constexpr SamErrorText kNoFlowControl = {6, kErrorTypeProtocol, "No valid flow control"};
constexpr SamErrorText kTooLong = {7, kErrorTypeUsage, "Request too long for its addressing"};
constexpr SamErrorText kLineLost = {8, kErrorTypeBus, "Transport lost"};
constexpr SamErrorText kNoInit = {9, kErrorTypeBus, "ECU did not answer the wake-up"};
constexpr SamErrorText kChecksum = {10, kErrorTypeProtocol, "Response checksum wrong"};

inline void Set(SamError& error, const SamErrorText& text) {
    error = {text.number, text.type, text.message};
}

}  // namespace diagbridge::samtec
