#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace diagbridge::sim {

// The timing a controller keeps on its K-line at the moment: the line speed and the windows of
// ISO 14230-2 (standard timing until the tester negotiates another).
struct KlineTiming {
    uint32_t baudRate = 10400;  // bit/s
    // The least and the longest pause before an answer, the least pause before a request.
    std::chrono::microseconds p2Min = std::chrono::milliseconds(25);
    std::chrono::microseconds p2Max = std::chrono::milliseconds(50);
    std::chrono::microseconds p3Min = std::chrono::milliseconds(55);
};

// A half-duplex K-line as the controller sees it: each byte occupies the wire for 10 bit times
// (start bit, 8 data bits, stop bit), one after the other whichever side sends. The caller gives
// the times, so the model itself never waits.
class KlineLineModel {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;
    static constexpr uint32_t kBitsPerByte = 10;

    // One byte on the wire, from its start bit to the end of its stop bit.
    struct Span {
        TimePoint start;
        TimePoint end;
    };

    // The wire time of count bytes at baud (bit/s, > 0); 961.5 us a byte at 10400 baud.
    static Duration WireTime(size_t count, uint32_t baud);

    // 0 leaves the line unpaced. A new speed applies from the end of the bytes on the wire.
    void SetBaudRate(uint32_t baud);
    uint32_t BaudRate() const { return baud_; }
    bool Paced() const { return baud_ != 0; }

    // A byte ready at ready (arrived from the tester, or due to be sent): it starts once the
    // wire is free, never before ready, and keeps the wire for one byte time.
    Span Occupy(TimePoint ready);
    // The end of the last byte on the wire.
    TimePoint FreeAt() const { return freeAt_; }

  private:
    uint32_t baud_ = 0;
    // Bytes sent back to back are timed from the start of their run, so that no rounding adds up.
    TimePoint runStart_{};
    size_t runBytes_ = 0;
    TimePoint freeAt_{};
};

// P2 of an answer on a paced line: the configured delay, no shorter than P2min. A delay beyond
// P2max is kept: that is how a late controller is modelled.
std::chrono::microseconds AnswerDelay(std::chrono::microseconds configured,
                                      const KlineTiming& timing);

// True when a request that started at requestStart began less than p3Min after the end of the
// last answer (answeredAt).
bool TooEarly(KlineLineModel::TimePoint requestStart, KlineLineModel::TimePoint answeredAt,
              KlineLineModel::Duration p3Min);

}  // namespace diagbridge::sim
