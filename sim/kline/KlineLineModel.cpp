#include "sim/kline/KlineLineModel.h"

#include <algorithm>

namespace diagbridge::sim {

namespace {
constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;
}  // namespace

KlineLineModel::Duration KlineLineModel::WireTime(size_t count, uint32_t baud) {
    if (baud == 0) return Duration::zero();
    const auto bits = static_cast<int64_t>(count) * kBitsPerByte;
    return std::chrono::duration_cast<Duration>(
        std::chrono::nanoseconds(bits * kNanosecondsPerSecond / baud));
}

void KlineLineModel::SetBaudRate(uint32_t baud) {
    baud_ = baud;
    runStart_ = freeAt_;
    runBytes_ = 0;
}

KlineLineModel::Span KlineLineModel::Occupy(TimePoint ready) {
    if (ready >= freeAt_) {
        runStart_ = ready;
        runBytes_ = 0;
    }
    const TimePoint start = runStart_ + WireTime(runBytes_, baud_);
    ++runBytes_;
    freeAt_ = runStart_ + WireTime(runBytes_, baud_);
    return {start, freeAt_};
}

std::chrono::microseconds AnswerDelay(std::chrono::microseconds configured,
                                      const KlineTiming& timing) {
    return std::max(configured, timing.p2Min);
}

bool TooEarly(KlineLineModel::TimePoint requestStart, KlineLineModel::TimePoint answeredAt,
              KlineLineModel::Duration p3Min) {
    return requestStart - answeredAt < p3Min;
}

}  // namespace diagbridge::sim
