#include "sim/uds/UdsFaultPlan.h"

#include <charconv>
#include <string_view>

namespace diagbridge::sim {

namespace {

constexpr uint32_t kMaxCount = 100000;

bool ReadNumber(std::string_view text, int base, uint32_t limit, uint32_t& value) {
    if (text.empty()) return false;
    const auto [end, failure] =
        std::from_chars(text.data(), text.data() + text.size(), value, base);
    return failure == std::errc() && end == text.data() + text.size() && value <= limit;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// Takes a trailing "@<n>" off text into from.
bool TakeFrom(std::string_view& text, uint32_t& from) {
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos) return true;
    const bool read = ReadNumber(text.substr(at + 1), 10, kMaxCount, from) && from >= 1;
    text = text.substr(0, at);
    return read;
}

// Hex digits in pairs ("7F3E11"), at least one byte.
bool ReadBytes(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.empty() || text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        uint32_t byte = 0;
        if (!ReadNumber(text.substr(i, 2), 16, 0xFF, byte)) return false;
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

bool ParseServiceFault(std::string_view kind, const std::vector<std::string_view>& fields,
                       uint32_t from, UdsServiceFault& fault) {
    uint32_t service = 0;
    if (fields.size() < 2 || !ReadNumber(fields[1], 16, 0xFF, service)) return false;
    fault.service = static_cast<uint8_t>(service);
    fault.fromRequest = from;
    uint32_t value = 0;
    if (kind == "nrc") {
        fault.kind = UdsServiceFault::Kind::kNegative;
        if (fields.size() != 3 || !ReadNumber(fields[2], 16, 0xFF, value)) return false;
        fault.responseCode = static_cast<uint8_t>(value);
        return true;
    }
    if (kind == "silent") {
        fault.kind = UdsServiceFault::Kind::kSilent;
        return fields.size() == 2;
    }
    if (kind == "foreign") {
        fault.kind = UdsServiceFault::Kind::kForeign;
        return fields.size() == 3 && ReadBytes(fields[2], fault.answer);
    }
    fault.kind = UdsServiceFault::Kind::kPending;
    if (fields.size() < 3 || fields.size() > 4) return false;
    if (!ReadNumber(fields[2], 10, kMaxCount, fault.pendingCount)) return false;
    return fields.size() == 3 || ReadNumber(fields[3], 10, kMaxCount, fault.pendingIntervalMs);
}

bool ParseTransportFault(std::string_view kind, const std::vector<std::string_view>& fields,
                         UdsTransportFaults& faults) {
    if (kind == "fc-overflow") {
        faults.flowControlOverflow = true;
        return fields.size() == 1;
    }
    uint32_t* target = kind == "drop-cf"   ? &faults.dropConsecutiveFrame
                       : kind == "bad-sn"  ? &faults.badSequenceFrame
                       : kind == "fc-wait" ? &faults.flowControlWaits
                                           : nullptr;
    return target != nullptr && fields.size() == 2 && ReadNumber(fields[1], 10, kMaxCount, *target);
}

bool ParseDownloadStyle(std::string_view kind, const std::vector<std::string_view>& fields,
                        UdsDownloadStyle& style) {
    if (kind == "counter-restarts") {
        style.counterRestarts = true;
        return fields.size() == 1;
    }
    uint32_t bytes = 0;
    if (kind != "length-format" || fields.size() != 2 || !ReadNumber(fields[1], 10, 4, bytes) ||
        bytes == 0) {
        return false;
    }
    style.lengthBytes = static_cast<uint8_t>(bytes);
    return true;
}

}  // namespace

UdsFaultAction UdsFaultPlan::OnRequest(uint8_t service) {
    const uint32_t number = ++requests_[service];
    UdsFaultAction action;
    for (const UdsServiceFault& fault : faults_) {
        if (fault.service != service || number < fault.fromRequest) continue;
        switch (fault.kind) {
            case UdsServiceFault::Kind::kSilent:
                action.silent = true;
                break;
            case UdsServiceFault::Kind::kNegative:
                action.negativeCode = fault.responseCode;
                break;
            case UdsServiceFault::Kind::kPending:
                action.pendingCount = fault.pendingCount;
                action.pendingIntervalMs = fault.pendingIntervalMs;
                break;
            case UdsServiceFault::Kind::kForeign:
                action.foreignAnswer = fault.answer;
                break;
        }
    }
    return action;
}

bool ParseUdsFault(const std::string& text, UdsFaultPlan& plan, std::string& error) {
    std::string_view rest = text;
    uint32_t from = 1;
    const bool fromRead = TakeFrom(rest, from);
    const std::vector<std::string_view> fields = Split(rest, ':');
    const std::string_view kind = fields.front();
    bool parsed = false;
    if (kind == "nrc" || kind == "silent" || kind == "pending" || kind == "foreign") {
        UdsServiceFault fault;
        parsed = fromRead && ParseServiceFault(kind, fields, from, fault);
        if (parsed) plan.Add(fault);
    } else if (kind == "counter-restarts" || kind == "length-format") {
        UdsDownloadStyle style = plan.download;
        parsed = fromRead && from == 1 && ParseDownloadStyle(kind, fields, style);
        if (parsed) plan.download = style;
    } else {
        UdsTransportFaults faults = plan.transport;
        parsed = fromRead && from == 1 && ParseTransportFault(kind, fields, faults);
        if (parsed) plan.transport = faults;
    }
    if (!parsed) error = "bad fault \"" + text + "\"";
    return parsed;
}

}  // namespace diagbridge::sim
