#pragma once
#include "sim/kline/IKlineResponder.h"

namespace diagbridge::sim {

// Enough of an ECU to keep a session up: TesterPresent (3E) is answered 7E, every other
// service 7F <service> 11 (service not supported).
class KlineBasicResponder final : public IKlineResponder {
  public:
    bool Respond(const std::vector<uint8_t>& request, std::vector<uint8_t>& response) override;
};

}  // namespace diagbridge::sim
