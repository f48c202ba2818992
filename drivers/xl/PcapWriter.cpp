#include "drivers/xl/PcapWriter.h"

#include <chrono>
#include <cstdlib>

#include "drivers/xl/CandumpWriter.h"

namespace diagbridge::xl {

namespace {
constexpr uint32_t kPcapMagic = 0xA1B2C3D4u;
constexpr uint16_t kPcapVersionMajor = 2;
constexpr uint16_t kPcapVersionMinor = 4;
constexpr uint32_t kSnapLength = 65535;
constexpr const char* kPcapVariable = "DIAGBRIDGE_CAN_PCAP";

void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}
void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

PcapWriter::~PcapWriter() {
    Close();
}

bool PcapWriter::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return false;
    uint8_t header[24] = {};
    PutLe32(header, kPcapMagic);
    PutLe16(header + 4, kPcapVersionMajor);
    PutLe16(header + 6, kPcapVersionMinor);
    PutLe32(header + 16, kSnapLength);
    PutLe32(header + 20, kLinkTypeCanSocketCan);
    const bool written = std::fwrite(header, sizeof(header), 1, file_) == 1;
    std::fflush(file_);
    return written;
}

void PcapWriter::Close() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

void PcapWriter::Write(const CanFrame& frame) {
    using namespace std::chrono;
    const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    uint8_t record[16 + kSocketCanFrameSize];
    PutLe32(record, static_cast<uint32_t>(now / 1000000));
    PutLe32(record + 4, static_cast<uint32_t>(now % 1000000));
    PutLe32(record + 8, kSocketCanFrameSize);
    PutLe32(record + 12, kSocketCanFrameSize);
    uint8_t body[kSocketCanFrameSize];
    EncodeSocketCan(frame, IdByteOrder::kBigEndian, body);
    for (size_t i = 0; i < kSocketCanFrameSize; ++i) record[16 + i] = body[i];
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    std::fwrite(record, sizeof(record), 1, file_);
    std::fflush(file_);
}

PcapWriter* PcapWriter::Process() {
    static PcapWriter* writer = []() -> PcapWriter* {
        const char* path = std::getenv(kPcapVariable);
        if (path == nullptr || *path == '\0') return nullptr;
        static PcapWriter processWriter;
        return processWriter.Open(path) ? &processWriter : nullptr;
    }();
    return writer;
}

void CaptureFrame(const CanFrame& frame) {
    // One lock over both captures keeps their frames in the same order.
    static std::mutex order;
    std::lock_guard lock(order);
    if (PcapWriter* writer = PcapWriter::Process()) writer->Write(frame);
    if (CandumpWriter* log = CandumpWriter::Process()) log->Write(frame);
}

}  // namespace diagbridge::xl
