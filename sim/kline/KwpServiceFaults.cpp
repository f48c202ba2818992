#include "sim/kline/KwpServiceFaults.h"

#include <charconv>
#include <limits>
#include <string_view>

namespace diagbridge::sim {

const char* const kKwpFaultSyntax =
    "      silence[@SID][*N]       no answer to N requests (without *N: to all) of service\n"
    "                              SID (hex); without @SID to any frame, wake-up included\n"
    "      pending:P[@SID][*N]     P answers 7F SID 78 (response pending), then the answer\n"
    "      busy[@SID][*N]          7F SID 21 (busy, repeat request) instead of the answer\n"
    "      negative:NRC[@SID][*N]  7F SID NRC (NRC hex) instead of the answer\n"
    "      foreign:HEX[@SID][*N]   the bytes HEX (e.g. 7E00, 7F3E11) instead of the answer\n"
    "      checksum[*N]            responses with a wrong checksum\n"
    "      ident:TYPE              1A 93 and 1A 8E report object type TYPE (wrong ECU)\n"
    "      upgrade-fail            the upgrade status after a download ends as failed\n"
    "      (SID is any service but 81 and 82, which the line answers itself)\n";

namespace {

constexpr uint8_t kStartCommunication = 0x81;
constexpr uint8_t kStopCommunication = 0x82;

// A count of a line fault: times, or without a count every frame.
uint32_t LineCount(uint32_t times) {
    return times == KwpServiceFault::kEveryRequest ? std::numeric_limits<uint32_t>::max() : times;
}

struct FaultText {
    std::string_view kind;
    std::string_view value;    // after ':'
    std::string_view service;  // after '@'
    std::string_view times;    // after '*'
};

// Cuts "kind[:value][@service][*times]" into its parts.
FaultText Split(std::string_view text) {
    FaultText parts;
    const size_t star = text.find('*');
    if (star != std::string_view::npos) {
        parts.times = text.substr(star + 1);
        text = text.substr(0, star);
    }
    const size_t at = text.find('@');
    if (at != std::string_view::npos) {
        parts.service = text.substr(at + 1);
        text = text.substr(0, at);
    }
    const size_t colon = text.find(':');
    parts.kind = text.substr(0, colon);
    if (colon != std::string_view::npos) parts.value = text.substr(colon + 1);
    return parts;
}

template <typename T>
bool ReadNumber(std::string_view text, int base, T& value) {
    if (text.empty()) return false;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return status == std::errc() && end == text.data() + text.size();
}

bool ReadByte(std::string_view text, int base, uint8_t& value) {
    uint32_t number = 0;
    if (!ReadNumber(text, base, number) || number > std::numeric_limits<uint8_t>::max()) {
        return false;
    }
    value = static_cast<uint8_t>(number);
    return true;
}

// The service, count and value of a service fault; false for parts that do not fit.
bool ReadServiceFault(const FaultText& parts, bool needsValue, int valueBase,
                      KwpServiceFault& fault) {
    if (needsValue != !parts.value.empty()) return false;
    if (needsValue && (!ReadByte(parts.value, valueBase, fault.value) || fault.value == 0)) {
        return false;
    }
    if (!parts.service.empty()) {
        if (!ReadByte(parts.service, 16, fault.service)) return false;
        if (fault.service == kStartCommunication || fault.service == kStopCommunication) {
            return false;
        }
    }
    return parts.times.empty() || ReadNumber(parts.times, 10, fault.times);
}

// Hex digits in pairs ("7F3E11"), at least one byte.
bool ReadBytes(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.empty() || text.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        uint8_t byte = 0;
        if (!ReadByte(text.substr(i, 2), 16, byte)) return false;
        bytes.push_back(byte);
    }
    return true;
}

}  // namespace

namespace {

bool Apply(const std::string& text, KwpFaultOptions& options) {
    const FaultText parts = Split(text);
    KwpServiceFault fault;
    bool valid = false;
    if (parts.kind == "silence") {
        fault.kind = KwpServiceFault::Kind::kSilence;
        valid = ReadServiceFault(parts, false, 10, fault);
        if (valid && fault.service == KwpServiceFault::kAnyService) {
            options.silentRequests = LineCount(fault.times);
            return true;
        }
    } else if (parts.kind == "pending") {
        fault.kind = KwpServiceFault::Kind::kPending;
        valid = ReadServiceFault(parts, true, 10, fault);
    } else if (parts.kind == "busy") {
        fault.kind = KwpServiceFault::Kind::kBusy;
        valid = ReadServiceFault(parts, false, 10, fault);
    } else if (parts.kind == "negative") {
        fault.kind = KwpServiceFault::Kind::kNegative;
        valid = ReadServiceFault(parts, true, 16, fault);
    } else if (parts.kind == "foreign") {
        fault.kind = KwpServiceFault::Kind::kForeign;
        FaultText rest = parts;
        rest.value = {};
        valid = ReadBytes(parts.value, fault.answer) && ReadServiceFault(rest, false, 16, fault);
    } else if (parts.kind == "checksum") {
        uint32_t times = 0;
        if (!parts.value.empty() || !parts.service.empty()) return false;
        if (!parts.times.empty() && (!ReadNumber(parts.times, 10, times) || times == 0)) {
            return false;
        }
        options.badChecksumResponses = LineCount(times);
        return true;
    } else if (parts.kind == "ident") {
        if (parts.value.empty() || !parts.service.empty() || !parts.times.empty()) return false;
        options.objectType = text.substr(text.find(':') + 1);
        return true;
    } else if (text == "upgrade-fail") {
        options.upgradeFails = true;
        return true;
    }
    if (!valid) return false;
    options.serviceFaults.push_back(fault);
    return true;
}

}  // namespace

bool ParseKwpFault(const std::string& text, KwpFaultOptions& options, std::string& error) {
    if (Apply(text, options)) return true;
    error = "unknown fault '" + text + "'";
    return false;
}

}  // namespace diagbridge::sim
