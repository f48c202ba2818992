// The programming services of the virtual UDS ECU: erase and dependency-check routines,
// request download, transfer data and transfer exit, kept as a stored image.
#include <algorithm>

#include "sim/uds/UdsEcuCrc32.h"
#include "sim/uds/UdsEcuServices.h"
#include "sim/uds/UdsResponseCodes.h"

namespace diagbridge::sim {

namespace {

constexpr uint8_t kStartRoutine = 0x01;
constexpr uint16_t kEraseRoutine = 0xFF00;
constexpr uint16_t kDependencyRoutine = 0xFF01;
constexpr size_t kDependencyWithCrcLength = 10;  // 31 01 FF 01 00 04 c c c c
constexpr uint8_t kRoutineOk = 0x00;
constexpr uint8_t kRoutineFailed = 0x01;
constexpr uint16_t kOneByteMaxBlockLength = 0xFF;
constexpr uint32_t kMaxDownloadBytes = 16u << 20;  // far above any controller's flash
constexpr size_t kExitWithCrcLength = 5;           // 37 c c c c

uint32_t ReadNumber(const uint8_t* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

bool Overlaps(const UdsImageSegment& segment, uint32_t start, uint32_t size) {
    const uint64_t end = uint64_t{start} + size;
    const uint64_t segmentEnd = uint64_t{segment.start} + segment.declaredLength;
    return start < segmentEnd && segment.start < end;
}

}  // namespace

uint32_t UdsEcuServices::ImageCrc() const {
    return crc_;
}

uint8_t UdsEcuServices::ProgrammingRefusal() const {
    if (session_ == kDefaultSession) return nrc::kServiceNotSupportedInSession;
    if (unlockedLevel_ == 0) return nrc::kSecurityAccessDenied;
    return 0;
}

void UdsEcuServices::AbortDownload() {
    downloading_ = false;
}

uint8_t UdsEcuServices::RoutineControl(const uint8_t* request, size_t length, Writer& out) {
    if (length < 4) return nrc::kIncorrectLength;
    if ((request[1] & 0x7F) != kStartRoutine) return nrc::kSubFunctionNotSupported;
    const auto routine = static_cast<uint16_t>(ReadNumber(request + 2, 2));
    if (routine != kEraseRoutine && routine != kDependencyRoutine) return nrc::kRequestOutOfRange;
    if (const uint8_t refusal = ProgrammingRefusal()) return refusal;
    out.Put(request[1] & 0x7F);
    out.PutNumber(routine, 2);
    if (routine == kEraseRoutine) return Erase(out);
    return CheckDependencies(request, length, out);
}

uint8_t UdsEcuServices::Erase(Writer& out) {
    image_.clear();
    downloading_ = false;
    expectedCounter_ = 1;
    crc_ = kEcuCrc32Start;
    erased_ = true;
    out.Put(kRoutineOk);
    return 0;
}

// Status 0 when everything downloaded since the erase is complete and, if the tester gives
// one, its CRC-32 equals that of the bytes received.
uint8_t UdsEcuServices::CheckDependencies(const uint8_t* request, size_t length, Writer& out) {
    if (length != 4 && length != kDependencyWithCrcLength) return nrc::kIncorrectLength;
    const bool withCrc = length == kDependencyWithCrcLength;
    if (withCrc && (request[4] != 0x00 || request[5] != 0x04)) return nrc::kRequestOutOfRange;
    const bool complete = erased_ && !image_.empty() && !downloading_ &&
                          std::all_of(image_.begin(), image_.end(),
                                      [](const UdsImageSegment& s) { return s.closed; });
    const bool crcMatches = !withCrc || ReadNumber(request + 6, 4) == ImageCrc();
    out.Put(complete && crcMatches ? kRoutineOk : kRoutineFailed);
    return 0;
}

uint8_t UdsEcuServices::RequestDownload(const uint8_t* request, size_t length, Writer& out) {
    if (length < 3) return nrc::kIncorrectLength;
    if (const uint8_t refusal = ProgrammingRefusal()) return refusal;
    const size_t addressBytes = request[2] & 0x0F;
    const size_t sizeBytes = request[2] >> 4;
    if (addressBytes < 1 || addressBytes > 4 || sizeBytes < 1 || sizeBytes > 4) {
        return nrc::kRequestOutOfRange;
    }
    if (length != 3 + addressBytes + sizeBytes) return nrc::kIncorrectLength;
    if (!erased_ || downloading_) return nrc::kConditionsNotCorrect;
    if (request[1] != 0x00) return nrc::kRequestOutOfRange;  // no compression, no encryption
    const uint32_t start = ReadNumber(request + 3, addressBytes);
    const uint32_t size = ReadNumber(request + 3 + addressBytes, sizeBytes);
    if (size == 0 || size > kMaxDownloadBytes || uint64_t{start} + size > (uint64_t{1} << 32)) {
        return nrc::kRequestOutOfRange;
    }
    for (const UdsImageSegment& segment : image_) {
        if (Overlaps(segment, start, size)) return nrc::kRequestOutOfRange;
    }
    image_.push_back({start, size, {}, false});
    downloading_ = true;
    if (style_.counterRestarts) expectedCounter_ = 1;
    announcedBlockLength_ = style_.lengthBytes == 1
                                ? std::min(profile_.maxBlockLength, kOneByteMaxBlockLength)
                                : profile_.maxBlockLength;
    out.Put(static_cast<uint8_t>(style_.lengthBytes << 4));
    out.PutNumber(announcedBlockLength_, style_.lengthBytes);
    return 0;
}

// A repeated transfer (the previous counter again) is confirmed without storing it twice.
uint8_t UdsEcuServices::TransferData(const uint8_t* request, size_t length, Writer& out) {
    if (length < 2) return nrc::kIncorrectLength;
    if (!downloading_) return nrc::kRequestSequenceError;
    UdsImageSegment& segment = image_.back();
    const uint8_t counter = request[1];
    const size_t count = length - 2;
    out.Put(counter);
    if (counter != expectedCounter_) {
        const bool repeated =
            counter == static_cast<uint8_t>(expectedCounter_ - 1) && !segment.data.empty();
        return repeated ? 0 : nrc::kWrongBlockSequenceCounter;
    }
    if (count == 0 || count + 2 > announcedBlockLength_) return nrc::kIncorrectLength;
    if (segment.data.size() + count > segment.declaredLength) return nrc::kTransferDataSuspended;
    segment.data.insert(segment.data.end(), request + 2, request + length);
    crc_ = EcuCrc32Update(crc_, request + 2, count);
    ++expectedCounter_;
    return 0;
}

// Ends the download when every requested byte came; a 4-byte parameter is the CRC-32 of
// the segment and must match.
uint8_t UdsEcuServices::TransferExit(const uint8_t* request, size_t length, Writer& /*out*/) {
    if (!downloading_) return nrc::kRequestSequenceError;
    if (length != 1 && length != kExitWithCrcLength) return nrc::kIncorrectLength;
    UdsImageSegment& segment = image_.back();
    if (segment.data.size() != segment.declaredLength) return nrc::kRequestSequenceError;
    if (length == kExitWithCrcLength &&
        ReadNumber(request + 1, 4) != EcuCrc32(segment.data.data(), segment.data.size())) {
        return nrc::kGeneralProgrammingFailure;
    }
    segment.closed = true;
    downloading_ = false;
    return 0;
}

}  // namespace diagbridge::sim
