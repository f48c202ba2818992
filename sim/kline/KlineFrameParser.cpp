#include "sim/kline/KlineFrameParser.h"

#include <cstddef>

namespace diagbridge::sim {

namespace {
constexpr uint8_t kLengthMask = 0x3F;
// Set in the mode bits of the frames that carry target and source (10 physical,
// 11 functional).
constexpr uint8_t kAddressedModeBit = 0x80;
constexpr uint8_t kPhysicalFormat = 0x80;
constexpr size_t kLengthByteFrom = 64;
constexpr size_t kMaxData = 255;
}  // namespace

std::vector<uint8_t> KlineFrameParser::Build(uint8_t target, uint8_t source,
                                             const std::vector<uint8_t>& data) {
    if (data.empty() || data.size() > kMaxData) return {};
    const auto count = static_cast<uint8_t>(data.size());
    std::vector<uint8_t> frame;
    if (data.size() < kLengthByteFrom) {
        frame = {static_cast<uint8_t>(kPhysicalFormat | count), target, source};
    } else {
        frame = {kPhysicalFormat, target, source, count};
    }
    frame.insert(frame.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t byte : frame) sum = static_cast<uint8_t>(sum + byte);
    frame.push_back(sum);
    return frame;
}

void KlineFrameParser::Reset() {
    state_ = State::kFormat;
    expected_ = 0;
    sum_ = 0;
}

void KlineFrameParser::BeginData(uint32_t length) {
    expected_ = length;
    frame_.data.clear();
    frame_.data.reserve(length);
    state_ = State::kData;
}

KlineFrameParser::Result KlineFrameParser::Feed(uint8_t byte) {
    switch (state_) {
        case State::kFormat:
            if ((byte & kAddressedModeBit) == 0) return Result::kPending;
            frame_ = Frame{};
            frame_.format = byte;
            sum_ = byte;
            state_ = State::kTarget;
            return Result::kPending;
        case State::kTarget:
            frame_.target = byte;
            state_ = State::kSource;
            break;
        case State::kSource:
            frame_.source = byte;
            if ((frame_.format & kLengthMask) == 0) {
                state_ = State::kLength;
            } else {
                BeginData(frame_.format & kLengthMask);
            }
            break;
        case State::kLength:
            if (byte == 0) {
                Reset();
                return Result::kPending;
            }
            BeginData(byte);
            break;
        case State::kData:
            frame_.data.push_back(byte);
            if (frame_.data.size() == expected_) state_ = State::kChecksum;
            break;
        case State::kChecksum: {
            const bool good = byte == sum_;
            Reset();
            return good ? Result::kFrame : Result::kBadChecksum;
        }
    }
    sum_ = static_cast<uint8_t>(sum_ + byte);
    return Result::kPending;
}

}  // namespace diagbridge::sim
