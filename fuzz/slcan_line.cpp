// Lawicel (slcan) frame lines: an accepted line gives a classic CAN frame whose encoding is the
// line's frame part in upper case and reads back the same; any frame, even one with an
// identifier or length out of range, encodes to a line that reads back masked and clamped.
#include <cctype>
#include <cstring>

#include "drivers/xl/SlcanLine.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace diagbridge::xl;
using diagbridge::fuzz::AsText;
using diagbridge::fuzz::Require;

constexpr std::size_t kLongestFrameLine = 1 + 8 + 1 + 2 * kMaxDataLength;

bool SameFrame(const CanFrame& a, const CanFrame& b) {
    return a.id == b.id && a.dlc == b.dlc && std::memcmp(a.data, b.data, a.dlc) == 0;
}

std::size_t IdDigits(const CanFrame& frame) {
    return (frame.id & kExtendedId) != 0 ? 8 : 3;
}

void CheckAcceptedLine(std::string_view line, const CanFrame& frame) {
    Require(frame.dlc <= kMaxDataLength);
    const bool extended = (frame.id & kExtendedId) != 0;
    Require(extended == (line[0] == 'T'));
    Require((frame.id & ~kExtendedId) <=
            (extended ? kSocketCanExtendedMask : kSocketCanStandardMask));
    const std::size_t used = 2 + IdDigits(frame) + 2u * frame.dlc;
    Require(used <= line.size());
    char encoded[kSlcanMaxLine];
    const std::size_t length = EncodeSlcanFrameLine(frame, encoded);
    Require(length == used);
    Require(encoded[0] == line[0]);
    for (std::size_t i = 1; i < length; ++i) {
        Require(encoded[i] == std::toupper(static_cast<unsigned char>(line[i])));
    }
    CanFrame again;
    Require(ParseSlcanFrameLine({encoded, length}, again) && SameFrame(frame, again));
}

// The first 13 bytes as a raw frame: id word, length byte, data.
void CheckAnyFrameEncodes(const uint8_t* data, std::size_t size) {
    CanFrame frame;
    if (size < 5 + kMaxDataLength) return;
    std::memcpy(&frame.id, data, sizeof(frame.id));
    frame.dlc = data[4];
    std::memcpy(frame.data, data + 5, kMaxDataLength);
    char encoded[kSlcanMaxLine];
    std::memset(encoded, 0, sizeof(encoded));
    const std::size_t length = EncodeSlcanFrameLine(frame, encoded);
    Require(length <= kLongestFrameLine);
    for (std::size_t i = length; i < kSlcanMaxLine; ++i) Require(encoded[i] == 0);
    CanFrame read;
    Require(ParseSlcanFrameLine({encoded, length}, read));
    const bool extended = (frame.id & kExtendedId) != 0;
    const uint32_t mask = extended ? kSocketCanExtendedMask : kSocketCanStandardMask;
    Require(read.id == ((frame.id & mask) | (frame.id & kExtendedId)));
    Require(read.dlc == (frame.dlc > kMaxDataLength ? kMaxDataLength : frame.dlc));
    Require(std::memcmp(read.data, frame.data, read.dlc) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view line = AsText(data, size);
    CanFrame frame;
    if (ParseSlcanFrameLine(line, frame)) CheckAcceptedLine(line, frame);
    CheckAnyFrameEncodes(data, size);
    return 0;
}
