#pragma once
#include <cstddef>
#include <string_view>

#include "drivers/xl/CanFrame.h"

namespace diagbridge::xl {

// Lawicel (slcan) ASCII frame lines: "tIIILDD..." (11-bit) and "TIIIIIIIILDD..." (29-bit),
// upper-case hex, without the closing CR.

// Longest line an adapter sends: "T" + 8 id + 1 length + 16 data + timestamp, with room.
constexpr std::size_t kSlcanMaxLine = 64;

// Reads a frame line (anything after the data, such as a timestamp, is ignored). False for
// any other line, a non-hex digit, a length above 8, a line too short for its length or an
// identifier beyond 11/29 bits; frame is then not to be used. Reads no further than line.
bool ParseSlcanFrameLine(std::string_view line, CanFrame& frame);

// Writes frame as a line without the CR (the identifier masked to 11/29 bits, at most 8
// data bytes) into out; its length (at most 26).
std::size_t EncodeSlcanFrameLine(const CanFrame& frame, char (&out)[kSlcanMaxLine]);

}  // namespace diagbridge::xl
