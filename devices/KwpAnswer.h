#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge {

// True when a KWP2000 answer starting with the bytes answer (answerLength >= 1) answers
// request: 7F and the request's service id, or the positive service id (request + 0x40)
// with the parameter byte the service repeats (identification option, local identifier,
// access mode, timing parameter identifier) as far as both show it. A late answer to
// another request of the same service fails this test.
bool AnswersKwpRequest(const uint8_t* request, std::size_t requestLength, const uint8_t* answer,
                       std::size_t answerLength);

}  // namespace diagbridge
