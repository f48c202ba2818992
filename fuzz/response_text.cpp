// Response decoders and upload texts of UDS and KWP2000: any response gives a text whose
// parts add up to the bytes the response holds.
#include <algorithm>
#include <vector>

#include "engine/CConvert.h"
#include "fuzz/FuzzCheck.h"
#include "kwp2000/KwpText.h"
#include "uds/UdsRequest.h"
#include "uds/UdsUploadText.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::Require;

constexpr std::size_t kPayloadOffset = 3;

std::size_t Records(std::size_t bytes, std::size_t recordBytes) {
    return bytes > kPayloadOffset ? (bytes - kPayloadOffset) / recordBytes : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string response(diagbridge::fuzz::AsText(data + 1, size - 1));
    const std::vector<uint8_t> bytes = KwpBytes(response);
    Require(bytes.size() <= ByteBuffer::kCapacity);

    const std::string table = DataBlockTable(response);
    // "BlockMask=0" and one "Block%d=" per 6-byte record.
    const auto assignments = std::count(table.begin(), table.end(), '=');
    Require(static_cast<std::size_t>(assignments) == 1 + Records(bytes.size(), 6));
    const std::vector<std::string> events = EventLines(response);
    Require(events.size() == Records(bytes.size(), 4));
    const std::vector<std::string> dtcs = DtcTexts(response);
    Require(dtcs.size() == events.size());
    for (const std::string& dtc : dtcs) Require(dtc.size() == 8);
    const std::string extended = ExtendedData(response);
    Require(extended.size() == (response.size() > 21 ? response.size() - 21 : 0));
    DecodeIdent(data[0], response);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        const uint32_t value = KwpRead24(bytes, offset);
        Require(value < (1u << 24) && (offset + 3 <= bytes.size() || value == 0));
    }
    SuppressesPositiveResponse(bytes.data(), bytes.size());
    SuppressesPositiveResponse(data, size);
    return 0;
}
