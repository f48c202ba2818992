#include "drivers/xl/CandumpWriter.h"

#include <chrono>
#include <cinttypes>
#include <cstdlib>

namespace diagbridge::xl {

namespace {
constexpr long long kMicrosecondsPerSecond = 1000000;
}  // namespace

std::string CandumpFrameText(const CanFrame& frame) {
    char text[48];
    const bool extended = (frame.id & kExtendedId) != 0;
    int length = extended ? std::snprintf(text, sizeof(text), "%08" PRIX32 "#",
                                          frame.id & kSocketCanExtendedMask)
                          : std::snprintf(text, sizeof(text), "%03" PRIX32 "#",
                                          frame.id & kSocketCanStandardMask);
    const int count = frame.dlc <= kMaxDataLength ? frame.dlc : kMaxDataLength;
    for (int i = 0; i < count; ++i) {
        length += std::snprintf(text + length, sizeof(text) - static_cast<size_t>(length), "%02X",
                                frame.data[i]);
    }
    return text;
}

CandumpWriter::~CandumpWriter() {
    Close();
}

bool CandumpWriter::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void CandumpWriter::Close() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

void CandumpWriter::Write(const CanFrame& frame) {
    using namespace std::chrono;
    const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    // Seconds as 32 bits, as the pcap writer keeps them: enough until 2106.
    const auto seconds = static_cast<uint32_t>(now / kMicrosecondsPerSecond);
    const auto micros = static_cast<uint32_t>(now % kMicrosecondsPerSecond);
    const std::string body = CandumpFrameText(frame);
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    std::fprintf(file_, "(%" PRIu32 ".%06" PRIu32 ") %s %s\n", seconds, micros, kInterfaceName,
                 body.c_str());
    std::fflush(file_);
}

CandumpWriter* CandumpWriter::Process() {
    static CandumpWriter* writer = []() -> CandumpWriter* {
        const char* path = std::getenv(kEnvironmentVariable);
        if (path == nullptr || *path == '\0') return nullptr;
        static CandumpWriter processWriter;
        return processWriter.Open(path) ? &processWriter : nullptr;
    }();
    return writer;
}

}  // namespace diagbridge::xl
