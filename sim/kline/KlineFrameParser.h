#pragma once
#include <cstdint>
#include <vector>

namespace diagbridge::sim {

// Assembles addressed KWP2000 frames (format, target, source, [length], data, checksum)
// from the bytes of the line, one at a time. Bytes that cannot start an addressed frame
// (the 0 of a break, frames without address bytes) are skipped.
class KlineFrameParser {
  public:
    enum class Result { kPending, kFrame, kBadChecksum };
    struct Frame {
        uint8_t format = 0;
        uint8_t target = 0;
        uint8_t source = 0;
        std::vector<uint8_t> data;  // 1..255 service bytes
    };

    // The frame the controller sends: format 0x80 + length (0x80 and a length byte from 64
    // data bytes on), target, source, the data (1..255 bytes) and the sum of all bytes before
    // the checksum, low 8 bits. Empty for data of another length.
    static std::vector<uint8_t> Build(uint8_t target, uint8_t source,
                                      const std::vector<uint8_t>& data);

    // kFrame or kBadChecksum when byte ended a frame (see LastFrame), else kPending.
    Result Feed(uint8_t byte);
    // Drops a partly received frame (after a gap on the line).
    void Reset();
    bool InFrame() const { return state_ != State::kFormat; }
    const Frame& LastFrame() const { return frame_; }

  private:
    enum class State { kFormat, kTarget, kSource, kLength, kData, kChecksum };
    void BeginData(uint32_t length);

    State state_ = State::kFormat;
    Frame frame_;
    uint32_t expected_ = 0;
    uint8_t sum_ = 0;
};

}  // namespace diagbridge::sim
