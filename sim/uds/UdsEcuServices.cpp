// Dispatch and the diagnostic services of the virtual UDS ECU: sessions, reset, security
// access, data identifiers, memory, trouble codes, communication control, tester present.
#include "sim/uds/UdsEcuServices.h"

#include <algorithm>

#include "sim/uds/UdsResponseCodes.h"

namespace diagbridge::sim {

namespace {

constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kSubFunctionMask = 0x7F;
constexpr uint16_t kP2Ms = 50;
constexpr uint16_t kP2StarTensOfMs = 500;  // 5000 ms
constexpr size_t kDtcBytes = 3;
constexpr uint8_t kExtendedRecord = 0x01;
constexpr uint8_t kAllRecords = 0xFF;

constexpr uint8_t kSuppressPositiveResponse = 0x80;

// A positive answer the tester asked not to get: bit 7 of the sub-function of a service
// this ECU serves with a suppressible sub-function.
bool PositiveAnswerSuppressed(const uint8_t* request, size_t length) {
    if (length < 2 || (request[1] & kSuppressPositiveResponse) == 0) return false;
    switch (request[0]) {
        case 0x10:
        case 0x11:
        case 0x27:
        case 0x28:
        case 0x31:
        case 0x3E:
        case 0x85:
            return true;
        default:
            return false;
    }
}

// Negative codes a functional request must not be answered with.
bool SilentWhenFunctional(uint8_t code) {
    return code == nrc::kServiceNotSupported || code == nrc::kSubFunctionNotSupported ||
           code == nrc::kRequestOutOfRange || code == nrc::kSubFunctionNotSupportedInSession ||
           code == nrc::kServiceNotSupportedInSession;
}

uint32_t ReadNumber(const uint8_t* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

const UdsDtc* FindDtc(const std::vector<UdsDtc>& memory, uint32_t code) {
    for (const UdsDtc& dtc : memory) {
        if (dtc.code == code) return &dtc;
    }
    return nullptr;
}

}  // namespace

UdsEcuServices::UdsEcuServices(UdsEcuProfile profile)
    : profile_(std::move(profile)), identifiers_(profile_.identifiers) {}

size_t UdsEcuServices::Negative(uint8_t service, uint8_t code, uint8_t* response) {
    response[0] = kNegativeResponse;
    response[1] = service;
    response[2] = code;
    return 3;
}

UdsAnswer UdsEcuServices::Handle(const uint8_t* request, size_t length, bool functional,
                                 uint8_t* response, size_t capacity) {
    UdsAnswer answer;
    if (request == nullptr || length == 0 || response == nullptr || capacity < 3) {
        answer.suppressed = true;
        return answer;
    }
    Writer out(response, capacity);
    out.Put(static_cast<uint8_t>(request[0] + kPositiveOffset));
    uint8_t code = Dispatch(request, length, out);
    if (code == 0 && out.Overflow()) code = nrc::kResponseTooLong;
    if (code != 0) {
        answer.length = Negative(request[0], code, response);
        answer.suppressed = functional && SilentWhenFunctional(code);
        return answer;
    }
    answer.length = out.Length();
    answer.suppressed = PositiveAnswerSuppressed(request, length);
    return answer;
}

uint8_t UdsEcuServices::Dispatch(const uint8_t* request, size_t length, Writer& out) {
    switch (request[0]) {
        case 0x10:
            return SessionControl(request, length, out);
        case 0x11:
            return EcuReset(request, length, out);
        case 0x19:
            return ReadDtc(request, length, out);
        case 0x22:
            return ReadData(request, length, out);
        case 0x23:
            return ReadMemory(request, length, out);
        case 0x27:
            return SecurityAccess(request, length, out);
        case 0x28:
            return CommunicationControlService(request, length, out);
        case 0x2E:
            return WriteData(request, length, out);
        case 0x31:
            return RoutineControl(request, length, out);
        case 0x34:
            return RequestDownload(request, length, out);
        case 0x36:
            return TransferData(request, length, out);
        case 0x37:
            return TransferExit(request, length, out);
        case 0x3E:
            return TesterPresent(request, length, out);
        case 0x85:
            return ControlDtcSetting(request, length, out);
        default:
            return nrc::kServiceNotSupported;
    }
}

// ---------------------------------------------------------------- sessions and reset

void UdsEcuServices::EnterSession(uint8_t session) {
    session_ = session;
    unlockedLevel_ = 0;
    seedLevel_ = 0;
    AbortDownload();
    if (session == kDefaultSession) {
        communicationControl_ = 0;
        dtcSetting_ = 0x01;
    }
}

uint8_t UdsEcuServices::SessionControl(const uint8_t* request, size_t length, Writer& out) {
    if (length != 2) return nrc::kIncorrectLength;
    const uint8_t session = request[1] & kSubFunctionMask;
    if (!profile_.HasSession(session)) return nrc::kSubFunctionNotSupported;
    EnterSession(session);
    out.Put(session);
    out.PutNumber(kP2Ms, 2);
    out.PutNumber(kP2StarTensOfMs, 2);
    return 0;
}

uint8_t UdsEcuServices::EcuReset(const uint8_t* request, size_t length, Writer& out) {
    if (length != 2) return nrc::kIncorrectLength;
    const uint8_t type = request[1] & kSubFunctionMask;
    if (type < 0x01 || type > 0x03) return nrc::kSubFunctionNotSupported;
    EnterSession(kDefaultSession);
    lockedOut_ = false;
    failedKeys_ = 0;
    ++resets_;
    out.Put(type);
    return 0;
}

// ---------------------------------------------------------------- security access

uint8_t UdsEcuServices::SecurityAccess(const uint8_t* request, size_t length, Writer& out) {
    if (length < 2) return nrc::kIncorrectLength;
    const uint8_t level = request[1] & kSubFunctionMask;
    if (level == 0 || level == kSubFunctionMask) return nrc::kSubFunctionNotSupported;
    if ((level & 1) != 0) return RequestSeed(level, length, out);
    return SendKey(static_cast<uint8_t>(level - 1), request, length, out);
}

uint8_t UdsEcuServices::RequestSeed(uint8_t level, size_t length, Writer& out) {
    if (length != 2) return nrc::kIncorrectLength;
    const UdsKeyRule* rule = profile_.KeyRule(session_, level);
    if (rule == nullptr) {
        const bool elsewhere =
            std::any_of(profile_.keyRules.begin(), profile_.keyRules.end(),
                        [&](const UdsKeyRule& r) { return r.seedLevel == level; });
        return elsewhere ? nrc::kSubFunctionNotSupportedInSession : nrc::kSubFunctionNotSupported;
    }
    if (lockedOut_) return nrc::kRequiredTimeDelayNotExpired;
    out.Put(level);
    if (unlockedLevel_ == level) {
        out.PutNumber(0, rule->seedBytes);  // already unlocked: the zero seed
        return 0;
    }
    seed_ = NextSeed(rule->seedBytes);
    seedLevel_ = level;
    out.PutNumber(seed_, rule->seedBytes);
    return 0;
}

uint8_t UdsEcuServices::SendKey(uint8_t level, const uint8_t* request, size_t length, Writer& out) {
    const UdsKeyRule* rule = profile_.KeyRule(session_, level);
    if (rule == nullptr || seedLevel_ != level) return nrc::kRequestSequenceError;
    if (length != 2u + rule->seedBytes) return nrc::kIncorrectLength;
    seedLevel_ = 0;  // a seed serves one key
    if (ReadNumber(request + 2, rule->seedBytes) != UdsKeyFor(*rule, seed_)) {
        if (++failedKeys_ >= kMaxKeyAttempts) {
            lockedOut_ = true;
            return nrc::kExceededNumberOfAttempts;
        }
        return nrc::kInvalidKey;
    }
    failedKeys_ = 0;
    unlockedLevel_ = level;
    out.Put(request[1]);
    return 0;
}

// A seed of bytes bytes that is never zero (zero means "unlocked").
uint32_t UdsEcuServices::NextSeed(uint8_t bytes) {
    const uint32_t mask = bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
    uint32_t seed = 0;
    while (seed == 0) {
        seedState_ ^= seedState_ << 13;
        seedState_ ^= seedState_ >> 17;
        seedState_ ^= seedState_ << 5;
        seed = seedState_ & mask;
    }
    return seed;
}

// ---------------------------------------------------------------- data and memory

const std::vector<uint8_t>* UdsEcuServices::Identifier(uint16_t id) const {
    const auto found = identifiers_.find(id);
    return found == identifiers_.end() ? nullptr : &found->second;
}

uint8_t UdsEcuServices::ReadData(const uint8_t* request, size_t length, Writer& out) {
    if (length < 3 || (length - 1) % 2 != 0) return nrc::kIncorrectLength;
    for (size_t i = 1; i + 1 < length; i += 2) {
        const auto id = static_cast<uint16_t>(ReadNumber(request + i, 2));
        const std::vector<uint8_t>* value = Identifier(id);
        if (value == nullptr) return nrc::kRequestOutOfRange;
        out.PutNumber(id, 2);
        out.Put(value->data(), value->size());
    }
    return 0;
}

uint8_t UdsEcuServices::WriteData(const uint8_t* request, size_t length, Writer& out) {
    if (length < 4) return nrc::kIncorrectLength;
    const auto id = static_cast<uint16_t>(ReadNumber(request + 1, 2));
    const bool writable = identifiers_.count(id) != 0 ||
                          std::find(profile_.writeOnly.begin(), profile_.writeOnly.end(), id) !=
                              profile_.writeOnly.end();
    if (!writable) return nrc::kRequestOutOfRange;
    identifiers_[id].assign(request + 3, request + length);
    out.PutNumber(id, 2);
    return 0;
}

// Downloaded bytes where an image segment covers the address, else a fixed pattern.
uint8_t UdsEcuServices::MemoryByte(uint32_t address) const {
    for (const UdsImageSegment& segment : image_) {
        if (address >= segment.start && address - segment.start < segment.data.size()) {
            return segment.data[address - segment.start];
        }
    }
    return static_cast<uint8_t>((address * 0x9E3779B1u) >> 24);
}

uint8_t UdsEcuServices::ReadMemory(const uint8_t* request, size_t length, Writer& out) {
    if (length < 2) return nrc::kIncorrectLength;
    const size_t addressBytes = request[1] & 0x0F;
    const size_t sizeBytes = request[1] >> 4;
    if (addressBytes < 1 || addressBytes > 4 || sizeBytes < 1 || sizeBytes > 4) {
        return nrc::kRequestOutOfRange;
    }
    if (length != 2 + addressBytes + sizeBytes) return nrc::kIncorrectLength;
    const uint32_t address = ReadNumber(request + 2, addressBytes);
    const uint32_t size = ReadNumber(request + 2 + addressBytes, sizeBytes);
    if (size == 0 || size > UINT32_MAX - address) return nrc::kRequestOutOfRange;
    for (uint32_t i = 0; i < size && !out.Overflow(); ++i) out.Put(MemoryByte(address + i));
    return 0;
}

// ---------------------------------------------------------------- trouble codes

uint8_t UdsEcuServices::ReadDtc(const uint8_t* request, size_t length, Writer& out) {
    if (length < 2) return nrc::kIncorrectLength;
    out.Put(request[1]);
    switch (request[1]) {
        case 0x01:
        case 0x02:
        case 0x0F:
        case 0x11:
            return ReportDtcs(request, length, out);
        case 0x06:
        case 0x10:
            return ReportExtendedData(request, length, out);
        default:
            return nrc::kSubFunctionNotSupported;
    }
}

// 01 / 11: number of codes matching the mask; 02 / 0F: the codes with their status.
uint8_t UdsEcuServices::ReportDtcs(const uint8_t* request, size_t length, Writer& out) {
    if (length != 3) return nrc::kIncorrectLength;
    const uint8_t type = request[1];
    const uint8_t mask = request[2];
    const bool mirror = type == 0x0F || type == 0x11;
    const std::vector<UdsDtc>& memory = mirror ? profile_.mirrorDtcs : profile_.dtcs;
    out.Put(profile_.dtcAvailabilityMask);
    const bool countOnly = type == 0x01 || type == 0x11;
    uint32_t count = 0;
    for (const UdsDtc& dtc : memory) {
        if ((dtc.status & mask) == 0) continue;
        ++count;
        if (countOnly) continue;
        out.PutNumber(dtc.code, kDtcBytes);
        out.Put(dtc.status);
    }
    if (countOnly) {
        out.Put(profile_.dtcFormat);
        out.PutNumber(count, 2);
    }
    return 0;
}

// 06 / 10: extended data record 01 (or all, FF) of one code.
uint8_t UdsEcuServices::ReportExtendedData(const uint8_t* request, size_t length, Writer& out) {
    if (length != 6) return nrc::kIncorrectLength;
    const std::vector<UdsDtc>& memory = request[1] == 0x10 ? profile_.mirrorDtcs : profile_.dtcs;
    const UdsDtc* dtc = FindDtc(memory, ReadNumber(request + 2, kDtcBytes));
    const uint8_t record = request[5];
    if (dtc == nullptr || (record != kExtendedRecord && record != kAllRecords)) {
        return nrc::kRequestOutOfRange;
    }
    out.PutNumber(dtc->code, kDtcBytes);
    out.Put(dtc->status);
    out.Put(kExtendedRecord);
    out.Put(dtc->extendedData.data(), dtc->extendedData.size());
    return 0;
}

// ---------------------------------------------------------------- control services

uint8_t UdsEcuServices::CommunicationControlService(const uint8_t* request, size_t length,
                                                    Writer& out) {
    if (length != 3) return nrc::kIncorrectLength;
    const uint8_t control = request[1] & kSubFunctionMask;
    if (control > 0x03) return nrc::kSubFunctionNotSupported;
    communicationControl_ = control;
    out.Put(control);
    return 0;
}

uint8_t UdsEcuServices::ControlDtcSetting(const uint8_t* request, size_t length, Writer& out) {
    if (length < 2) return nrc::kIncorrectLength;
    const uint8_t setting = request[1] & kSubFunctionMask;
    if (setting != 0x01 && setting != 0x02) return nrc::kSubFunctionNotSupported;
    dtcSetting_ = setting;
    out.Put(setting);
    return 0;
}

uint8_t UdsEcuServices::TesterPresent(const uint8_t* request, size_t length, Writer& out) {
    if (length != 2) return nrc::kIncorrectLength;
    if ((request[1] & kSubFunctionMask) != 0) return nrc::kSubFunctionNotSupported;
    out.Put(0x00);
    return 0;
}

}  // namespace diagbridge::sim
