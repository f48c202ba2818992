#pragma once
#include <array>
#include <cstdint>

namespace diagbridge {

// The timing parameters of AccessTimingParameters (83) and their byte encodings: each byte
// value n stands for a time in ms (P2MIN, P3MIN, P4MIN: n x 0.5; P3MAX: n x 250; P2MAX:
// n x 25 up to 240, (n - 240) x 256 x 25 above).
class KwpTimingTables {
  public:
    enum Parameter { kP2Min, kP2Max, kP3Min, kP3Max, kP4Min, kParameterCount };
    static constexpr std::size_t kCodes = 256;

    KwpTimingTables();
    // The time of code in ms.
    double Ms(Parameter parameter, uint8_t code) const;
    // The first code whose time is >= ms; 255 when even that is shorter.
    uint8_t Encode(Parameter parameter, double ms) const;
    // Minimum parameters take the larger, maximum parameters the smaller of wish and limit.
    static bool IsMinimum(Parameter parameter) {
        return parameter != kP2Max && parameter != kP3Max;
    }

  private:
    std::array<std::array<double, kCodes>, kParameterCount> tables_{};
};

}  // namespace diagbridge
