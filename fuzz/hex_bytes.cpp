// Hex byte strings: the reader never writes past the capacity it is given, and a byte string
// it accepts reads back the same after writing.
#include <algorithm>
#include <vector>

#include "engine/CConvert.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::Require;

constexpr uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;

void CheckCapacity(std::string_view text, std::size_t capacity) {
    std::vector<uint8_t> out(capacity + kGuardBytes, kGuard);
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(text, out.data(), capacity, stored);
    Require(stored <= capacity);
    Require(std::all_of(out.begin() + capacity, out.end(), [](uint8_t b) { return b == kGuard; }));
    Require(count == kHexMalformed || (count >= 0 && static_cast<std::size_t>(count) == stored));
    if (count < 0) return;
    // Accepted: written back and read again it gives the same bytes.
    const std::string again = BytesToHexString(out.data(), stored);
    std::vector<uint8_t> reread(stored + 1);
    std::size_t rereadStored = 0;
    Require(HexStringToBytes(again, reread.data(), reread.size(), rereadStored) == count);
    Require(std::equal(out.begin(), out.begin() + stored, reread.begin()));
    Require(again.size() == (stored == 0 ? 0 : stored * 3 - 1));
}

template <typename Buffer>
void CheckConvert(std::string_view text) {
    CConvert convert;
    convert.text = std::string(text);
    Buffer buffer;
    const int32_t count = convert.HexToBytes(buffer);
    Require(buffer.length <= Buffer::kCapacity);
    if (count < 0) return;
    Require(static_cast<std::size_t>(count) == buffer.length);
    convert.BytesToHex(buffer);
    Buffer again;
    Require(convert.HexToBytes(again) == count);
    Require(std::equal(buffer.data, buffer.data + buffer.length, again.data));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks a small capacity, so that overlong texts are common.
    const std::size_t capacity = data[0] % 64;
    const std::string_view text = diagbridge::fuzz::AsText(data + 1, size - 1);
    CheckCapacity(text, capacity);
    CheckCapacity(text, ByteBuffer::kCapacity);
    CheckConvert<ByteBuffer>(text);
    CheckConvert<ShortByteBuffer>(text);
    // Display decoders: any response, any scaling, no crash.
    const std::size_t split = std::min<std::size_t>(text.size(), data[0] % 24);
    DecodeScaledResponse(std::string(text.substr(split)), std::string(text.substr(0, split)), ";");
    ShortByteBuffer field;
    field.length = static_cast<uint16_t>(std::min(text.size(), ShortByteBuffer::kCapacity));
    std::copy_n(text.begin(), field.length, field.data);
    for (const char* type : {"A", "H", "U", "I", "D", "B"}) DecodeBytes(field, type);
    Latin1ToUtf8(data, size);
    return 0;
}
