#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge {

// True for a request whose sub-function asks the ECU not to send a positive response
// (bit 7 of the sub-function byte of a service that has one). Such an ECU rightly stays
// silent; only a negative response is to be waited for.
bool SuppressesPositiveResponse(const uint8_t* request, std::size_t length);

}  // namespace diagbridge
