#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace diagbridge::fuzz {

// Stops the run at a broken promise, so that libFuzzer keeps the input as a crash.
inline void Require(bool holds) {
    if (!holds) __builtin_trap();
}

inline std::string_view AsText(const uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace diagbridge::fuzz
