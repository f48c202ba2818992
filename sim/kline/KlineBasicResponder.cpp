#include "sim/kline/KlineBasicResponder.h"

namespace diagbridge::sim {

namespace {
constexpr uint8_t kTesterPresent = 0x3E;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kServiceNotSupported = 0x11;
}  // namespace

bool KlineBasicResponder::Respond(const std::vector<uint8_t>& request,
                                  std::vector<uint8_t>& response) {
    if (request.empty()) return false;
    const uint8_t service = request[0];
    if (service == kTesterPresent) {
        response = {static_cast<uint8_t>(service + kPositiveOffset)};
    } else {
        response = {kNegativeResponse, service, kServiceNotSupported};
    }
    return true;
}

}  // namespace diagbridge::sim
