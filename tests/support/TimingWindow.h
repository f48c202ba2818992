#pragma once
// Time windows of the frame-level timing scripts: when a step may happen, in milliseconds of
// the manual clock, measured from the step a given number of steps earlier.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace diagbridge::testing {

struct TimingWindow {
    uint32_t minMs = 0;
    uint32_t maxMs = 0;
    // The step the window is measured from: 1 the previous one, 2 the one before, ...
    size_t back = 1;
};

// Exactly ms after the previous step: how a script times the peer's frames.
inline TimingWindow After(uint32_t ms) {
    return {ms, ms, 1};
}

// min..max ms after the previous step.
inline TimingWindow Within(uint32_t minMs, uint32_t maxMs) {
    return {minMs, maxMs, 1};
}

// min..max ms after the step back steps earlier.
inline TimingWindow WithinSince(size_t back, uint32_t minMs, uint32_t maxMs) {
    return {minMs, maxMs, back};
}

// Empty when elapsedMs lies in window, else why not, for step number step.
inline std::string WindowFault(size_t step, const TimingWindow& window, uint32_t elapsedMs) {
    if (elapsedMs >= window.minMs && elapsedMs <= window.maxMs) return {};
    char text[160];
    std::snprintf(text, sizeof(text), "step %zu came %u ms after step %zu, window %u..%u ms", step,
                  elapsedMs, step - window.back, window.minMs, window.maxMs);
    return text;
}

}  // namespace diagbridge::testing
