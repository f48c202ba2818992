#include "uds/UdsRequest.h"

namespace diagbridge {

namespace {
constexpr uint8_t kSuppressBit = 0x80;

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
}  // namespace

bool SuppressesPositiveResponse(const uint8_t* request, std::size_t length) {
    return length >= 2 && HasSubFunction(request[0]) && (request[1] & kSuppressBit) != 0;
}

}  // namespace diagbridge
