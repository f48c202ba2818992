#pragma once
#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

#include "sim/kline/KwpServiceResponder.h"

namespace diagbridge::sim::test {

using Bytes = std::vector<uint8_t>;

// The final answer to request; nullopt when the controller stays silent.
inline std::optional<Bytes> Ask(KwpServiceResponder& responder, const Bytes& request) {
    Bytes response;
    if (!responder.Respond(request, response)) return std::nullopt;
    return response;
}

// All frames that answer request, in order.
inline std::vector<Bytes> AskAll(KwpServiceResponder& responder, const Bytes& request) {
    std::vector<Bytes> responses;
    responder.RespondSeries(request, responses);
    return responses;
}

// An Intel-HEX record as the tester sends it after 36: count, address, type, data, checksum.
inline Bytes HexRecord(uint16_t address, uint8_t type, const Bytes& data) {
    Bytes record = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address), type};
    record.insert(record.end(), data.begin(), data.end());
    const auto sum = std::accumulate(record.begin(), record.end(), 0u);
    record.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    return record;
}

inline Bytes Prefixed(uint8_t service, const Bytes& data) {
    Bytes request = {service};
    request.insert(request.end(), data.begin(), data.end());
    return request;
}

// Opens a session in mode and unlocks the level whose seed sub-function is seedLevel, with
// the key computed the way the tester does.
inline void Unlock(KwpServiceResponder& responder, uint8_t mode, uint8_t seedLevel,
                   KwpKeyRoutine routine) {
    Ask(responder, {0x10, mode});
    const std::optional<Bytes> seed = Ask(responder, {0x27, seedLevel});
    if (!seed || seed->size() != 4) return;
    const uint16_t key =
        KwpAccessKey(routine, static_cast<uint16_t>(((*seed)[2] << 8) | (*seed)[3]), mode);
    Ask(responder, {0x27, static_cast<uint8_t>(seedLevel + 1), static_cast<uint8_t>(key >> 8),
                    static_cast<uint8_t>(key)});
}

inline const KwpEcuModel& Model(const char* name) {
    return *FindKwpEcuModel(name);
}

}  // namespace diagbridge::sim::test
