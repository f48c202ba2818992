#pragma once
#include <cstdint>
#include <vector>

namespace diagbridge::sim {

// The service side of a virtual K-line ECU. The line handles framing, addressing, the
// checksum, the echo and StartCommunication/StopCommunication; the responder sees every
// other request addressed to the ECU. Called on the line's thread, one request at a time.
class IKlineResponder {
  public:
    virtual ~IKlineResponder() = default;
    // request: the service bytes of one frame, service identifier first (1..255 bytes).
    // Returns true with the response service bytes (1..255) in response; false stays
    // silent.
    virtual bool Respond(const std::vector<uint8_t>& request, std::vector<uint8_t>& response) = 0;
};

}  // namespace diagbridge::sim
