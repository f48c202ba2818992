#include "t40kalidor/T40EventText.h"

#include <cstdint>
#include <vector>

#include "ecu/KwpUploadValues.h"
#include "t40kalidor/T40Ident.h"

namespace diagbridge {

namespace {
constexpr std::size_t kEventCountIndex = 3;
constexpr std::size_t kEventStart = 2;
constexpr std::size_t kEventStride = 10;
constexpr std::size_t kEventBytes = 9;
constexpr std::size_t kAddendumBytes = 10;

// The bytes from..from+count-1 (zeros where missing), each as " %02X", and the line's end.
std::string ByteColumns(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t count) {
    std::string text;
    for (std::size_t i = from; i < from + count; ++i) {
        text += FormatText(" %02X", i < bytes.size() ? bytes[i] : 0);
    }
    return text + "|";
}
}  // namespace

std::string T40EventSectionText(const std::string& response) {
    const std::vector<uint8_t> bytes = T40Bytes(response);
    const std::size_t events = bytes.size() > kEventCountIndex ? bytes[kEventCountIndex] : 0;
    std::string text = "[EventMem]|" + FormatText("EventAnz=%d|", static_cast<int>(events)) +
                       "EventX=" + response + "|";
    for (std::size_t k = 0; k < events; ++k) {
        text += FormatText("Event%d= ", static_cast<int>(k + 1)) +
                ByteColumns(bytes, kEventStart + kEventStride * k, kEventBytes);
    }
    std::size_t from = kEventStride * events + 1;
    if (bytes.size() <= kEventStride * events + 2) return text;
    for (int addendum = 1; from + kAddendumBytes <= bytes.size(); ++addendum) {
        text += FormatText("Addendum%d= ", addendum) + ByteColumns(bytes, from, kAddendumBytes);
        from += kAddendumBytes;
    }
    return text;
}

}  // namespace diagbridge
