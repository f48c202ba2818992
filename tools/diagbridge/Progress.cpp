#include "tools/diagbridge/Progress.h"

#include "tools/diagbridge/Json.h"
#include "tools/diagbridge/TimeStamp.h"

namespace diagbridge::cli {

namespace {
constexpr int kBarCells = 24;
constexpr std::size_t kBarTextLimit = 44;
constexpr int kFullPercent = 100;
constexpr double kKilo = 1000.0;
constexpr double kMsPerSecond = 1000.0;
constexpr int kSecondsPerMinute = 60;
const std::string kStatusPrefix = "Status: ";

std::string Rate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= kKilo) {
        std::snprintf(text, sizeof(text), "%.1f kB/s", bytesPerSecond / kKilo);
    } else {
        std::snprintf(text, sizeof(text), "%.0f B/s", bytesPerSecond);
    }
    return text;
}

std::string Duration(int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%lld:%02lld left",
                  static_cast<long long>(seconds / kSecondsPerMinute),
                  static_cast<long long>(seconds % kSecondsPerMinute));
    return text;
}

// The status word of "Status: 3 CONNECTED".
std::string StatusWord(const std::string& status) {
    if (status.rfind(kStatusPrefix, 0) != 0) return status;
    const auto blank = status.find(' ', kStatusPrefix.size());
    return blank == std::string::npos ? status : status.substr(blank + 1);
}

}  // namespace

bool IsTransferStep(const std::string& text) {
    return text.find("Transfer") != std::string::npos || text.find("transfer") != std::string::npos;
}

std::string FormatBar(const BarView& view, int width) {
    const int percent =
        view.percent < 0 ? 0 : (view.percent > kFullPercent ? kFullPercent : view.percent);
    const int filled = percent * width / kFullPercent;
    std::string text =
        view.text.size() > kBarTextLimit ? view.text.substr(0, kBarTextLimit) : view.text;
    text += " [" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(width - filled), '-') + "] ";
    char number[16];
    std::snprintf(number, sizeof(number), "%3d%%", percent);
    text += number;
    const int moved = percent - view.startPercent;
    if (view.totalBytes == 0 || moved <= 0 || view.elapsedMs <= 0) return text;
    const double bytes = static_cast<double>(view.totalBytes) * moved / kFullPercent;
    const double rate = bytes * kMsPerSecond / static_cast<double>(view.elapsedMs);
    const double left =
        static_cast<double>(view.totalBytes) * (kFullPercent - percent) / kFullPercent;
    return text + "  " + Rate(rate) + "  " + Duration(static_cast<int64_t>(left / rate + 0.5));
}

Progress::Progress(FILE* out, OutputMode mode, bool terminal)
    : out_(out), mode_(mode), terminal_(terminal && mode == OutputMode::kHuman) {}

std::string Progress::LastStep() const {
    std::lock_guard lock(mutex_);
    return lastStep_;
}

std::string Progress::FailedStep() const {
    std::lock_guard lock(mutex_);
    return failureSeen_ ? lastStep_ : std::string();
}

void Progress::Line(const std::string& text, bool always) {
    std::lock_guard lock(mutex_);
    if (mode_ != OutputMode::kHuman && !always) return;
    PrintLocked(text);
}

void Progress::PrintLocked(const std::string& text) {
    EndBarLocked();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Progress::EndBarLocked() {
    if (!barShown_) return;
    std::fputc('\n', out_);
    barShown_ = false;
}

void Progress::TraceLocked(const char* kind, const std::string& text) {
    if (trace_ == nullptr) return;
    std::fprintf(trace_, "%s %-8s %s\n", TimeStamp().c_str(), kind, text.c_str());
    std::fflush(trace_);
}

void Progress::DrawBarLocked(int16_t block, int percent, const std::string& text) {
    const Clock::time_point now = Clock::now();
    const bool transfer = IsTransferStep(text);
    if (!barShown_ || block != barBlock_ || percent < barPercent_ || transfer != barTransfer_) {
        EndBarLocked();
        barBlock_ = block;
        barTransfer_ = transfer;
        barStart_ = now;
        barStartPercent_ = percent;
    }
    barPercent_ = percent;
    BarView view;
    view.text = text;
    view.percent = percent;
    view.totalBytes = transfer ? totalBytes_ : 0;
    view.startPercent = barStartPercent_;
    view.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - barStart_).count();
    // Clear to the end of the line: the text before may have been longer.
    std::fprintf(out_, "\r%s\x1b[K", FormatBar(view, kBarCells).c_str());
    std::fflush(out_);
    barShown_ = true;
}

void Progress::ShowStepLocked(int16_t block, int percent, const std::string& text) {
    if (terminal_) {
        DrawBarLocked(block, percent, text);
        return;
    }
    if (text == lastPrinted_) return;
    char number[16];
    std::snprintf(number, sizeof(number), "%3d%% ", percent);
    PrintLocked(number + text);
}

int32_t Progress::DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                                     const std::string& strInfo) {
    std::lock_guard lock(mutex_);
    // The first failure text names the step that failed; the summaries after it do not.
    if (!failureSeen_) lastStep_ = strInfo;
    failureSeen_ = failureSeen_ || strInfo.find("failed") != std::string::npos ||
                   strInfo.find("Error") != std::string::npos;
    TraceLocked("progress", std::to_string(iProgress) + "% " + strInfo);
    if (mode_ == OutputMode::kJson) {
        PrintLocked(JsonObject()
                        .Add("event", "progress")
                        .Add("block", iBlockId)
                        .Add("percent", iProgress)
                        .Add("text", strInfo)
                        .Text());
    } else if (mode_ == OutputMode::kHuman && !muted_) {
        ShowStepLocked(iBlockId, iProgress, strInfo);
    }
    lastPrinted_ = strInfo;
    return 0;
}

int32_t Progress::DbrStatusMessage(int32_t lStatus, const std::string& strStatus) {
    std::lock_guard lock(mutex_);
    TraceLocked("status", strStatus);
    if (mode_ == OutputMode::kJson) {
        PrintLocked(JsonObject()
                        .Add("event", "status")
                        .Add("status", lStatus)
                        .Add("text", strStatus)
                        .Text());
    } else if (mode_ == OutputMode::kHuman && !muted_ && strStatus != lastStatus_) {
        PrintLocked("status: " + StatusWord(strStatus));
    }
    lastStatus_ = strStatus;
    return 0;
}

int32_t Progress::DbrTraceMessage(int32_t /*lTraceId*/, const std::string& strTrace) {
    std::lock_guard lock(mutex_);
    TraceLocked("trace", strTrace);
    if (mode_ == OutputMode::kJson && trace_ != nullptr) {
        PrintLocked(JsonObject().Add("event", "trace").Add("text", strTrace).Text());
    }
    return 0;
}

}  // namespace diagbridge::cli
