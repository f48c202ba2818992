#include "uds/UdsRequest.h"

#include <algorithm>

namespace diagbridge {

namespace {
constexpr uint8_t kSuppressBit = 0x80;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegativeResponse = 0x7F;

// Services whose second byte is a sub-function with the suppress-positive-response bit.
bool HasSubFunction(uint8_t service) {
    switch (service) {
        case 0x10:  // diagnostic session control
        case 0x11:  // ECU reset
        case 0x27:  // security access
        case 0x28:  // communication control
        case 0x31:  // routine control
        case 0x3E:  // tester present
        case 0x83:  // access timing parameter
        case 0x85:  // control DTC setting
        case 0x86:  // response on event
        case 0x87:  // link control
            return true;
        default:
            return false;
    }
}
// Bytes after the service id that a positive response repeats from the request.
std::size_t EchoedBytes(uint8_t service) {
    switch (service) {
        case 0x19:  // read DTC information: report type
        case 0x36:  // transfer data: block sequence counter
            return 1;
        case 0x22:  // read data by identifier: the (first) identifier
        case 0x2E:  // write data by identifier
        case 0x2F:  // input output control by identifier
            return 2;
        case 0x31:  // routine control: sub-function and routine identifier
            return 3;
        default:
            return HasSubFunction(service) ? 1 : 0;
    }
}

// The echoed byte as the response carries it: sub-functions without the suppress bit.
uint8_t Echoed(uint8_t service, std::size_t index, uint8_t byte) {
    return index == 1 && HasSubFunction(service) ? static_cast<uint8_t>(byte & ~kSuppressBit)
                                                 : byte;
}
}  // namespace

bool AnswersRequest(const uint8_t* request, std::size_t requestLength, const uint8_t* start,
                    std::size_t startLength) {
    if (requestLength == 0 || startLength == 0) return false;
    const uint8_t service = request[0];
    if (start[0] == kNegativeResponse) return startLength < 2 || start[1] == service;
    if (start[0] != static_cast<uint8_t>(service + kPositiveOffset)) return false;
    const std::size_t shown = std::min({EchoedBytes(service) + 1, requestLength, startLength});
    for (std::size_t i = 1; i < shown; ++i) {
        if (Echoed(service, i, request[i]) != Echoed(service, i, start[i])) return false;
    }
    return true;
}

bool SuppressesPositiveResponse(const uint8_t* request, std::size_t length) {
    return length >= 2 && HasSubFunction(request[0]) && (request[1] & kSuppressBit) != 0;
}

}  // namespace diagbridge
