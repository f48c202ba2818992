#pragma once
#include <cstdint>
#include <vector>

#include "sim/kline/KlineLineModel.h"

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
    // The frames that answer request, in the order sent, each after the response delay (a
    // response-pending answer followed by the final one). False or an empty list stays
    // silent. By default the one answer of Respond.
    virtual bool RespondSeries(const std::vector<uint8_t>& request,
                               std::vector<std::vector<uint8_t>>& responses) {
        std::vector<uint8_t> response;
        if (!Respond(request, response)) return false;
        responses.push_back(response);
        return true;
    }
    // StartCommunication (true) or StopCommunication (false) was answered.
    virtual void CommunicationChanged(bool /*started*/) {}
    // The speed and timing the controller keeps now (the session's baud rate, the timing
    // negotiated by AccessTimingParameters); by default 10400 baud with standard timing.
    virtual KlineTiming LineTiming() const { return {}; }
};

}  // namespace diagbridge::sim
