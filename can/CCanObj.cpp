#include "can/CCanObj.h"

#include <algorithm>
#include <cstring>

namespace diagbridge {

namespace {
void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t GetLe32(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}
}  // namespace

CCanObj::CCanObj(uint32_t identifierIn, uint8_t lengthIn, const uint8_t* dataIn)
    : identifier(identifierIn), length(std::min(lengthIn, kMaxLength)) {
    std::memset(data, kUnusedByte, sizeof(data));
    if (dataIn != nullptr && length != 0) std::memcpy(data, dataIn, length);
}

void CCanObj::Serialize(uint8_t (&out)[kSerializedSize]) const {
    out[0] = length;
    PutLe32(out + 1, identifier);
    PutLe32(out + 5, time);
    std::memcpy(out + 9, data, kMaxLength);
}

bool CCanObj::Deserialize(const uint8_t* in, size_t size) {
    if (in == nullptr || size != kSerializedSize || in[0] > kMaxLength) return false;
    length = in[0];
    identifier = GetLe32(in + 1);
    time = GetLe32(in + 5);
    std::memcpy(data, in + 9, kMaxLength);
    return true;
}

}  // namespace diagbridge
