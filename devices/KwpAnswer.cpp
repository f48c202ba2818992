#include "devices/KwpAnswer.h"

#include <algorithm>

namespace diagbridge {

namespace {
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegativeResponse = 0x7F;

// Bytes after the service id that the controllers repeat in a positive answer. Only the
// services whose answers the diagnostic flows read behind a repeated byte are listed, so
// that no valid answer is refused.
std::size_t EchoedBytes(uint8_t service) {
    switch (service) {
        case 0x1A:  // read ECU identification: the identification option
        case 0x21:  // read data by local identifier: the record local identifier
        case 0x27:  // security access: the access mode
        case 0x83:  // access timing parameters: the timing parameter identifier
            return 1;
        default:
            return 0;
    }
}
}  // namespace

bool AnswersKwpRequest(const uint8_t* request, std::size_t requestLength, const uint8_t* answer,
                       std::size_t answerLength) {
    if (requestLength == 0 || answerLength == 0) return false;
    const uint8_t service = request[0];
    if (answer[0] == kNegativeResponse) return answerLength >= 2 && answer[1] == service;
    if (answer[0] != static_cast<uint8_t>(service + kPositiveOffset)) return false;
    const std::size_t shown = std::min({EchoedBytes(service) + 1, requestLength, answerLength});
    return std::equal(request + 1, request + shown, answer + 1);
}

}  // namespace diagbridge
