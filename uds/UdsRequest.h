#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge {

// True for a request whose sub-function asks the ECU not to send a positive response
// (bit 7 of the sub-function byte of a service that has one). Such an ECU rightly stays
// silent; only a negative response is to be waited for.
bool SuppressesPositiveResponse(const uint8_t* request, std::size_t length);

// True when a response starting with the bytes start (startLength >= 1) answers request:
// 7F and the request's service id, or the positive service id (request + 0x40) with the
// parameter the service repeats (sub-function, data identifier, routine, block counter) as
// far as both show it. A late answer to another request fails this test.
bool AnswersRequest(const uint8_t* request, std::size_t requestLength, const uint8_t* start,
                    std::size_t startLength);

}  // namespace diagbridge
