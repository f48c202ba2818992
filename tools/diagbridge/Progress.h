#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "component/ICommandInterfaceEvents.h"

namespace diagbridge::cli {

// One step on its way, as a bar line shows it.
struct BarView {
    std::string text;         // the step's progress text
    int percent = 0;          // 0..100
    uint64_t totalBytes = 0;  // bytes of the whole step; 0 when unknown
    int startPercent = 0;     // percent when the step's clock started
    int64_t elapsedMs = 0;    // since the step's clock started
};

// "<text> [#####-----]  45%  12.3 kB/s  0:07 left"; the rate and time left only when the
// bytes are known and some have moved. width is the number of bar cells.
std::string FormatBar(const BarView& view, int width);

// True for the steps that move the image's bytes (TransferData, Data transfer): their bar
// shows bytes/s and time left.
bool IsTransferStep(const std::string& text);

// How task output is shown.
enum class OutputMode { kHuman, kJson, kQuiet };

// The event sink of a task command: progress as a bar on a terminal, as lines without
// repeats otherwise, or as JSON objects; every event also to the trace file, if any, with
// its time. Events come on worker threads; every print is under one lock.
class Progress : public ICommandInterfaceEvents {
  public:
    using Clock = std::chrono::steady_clock;

    Progress(FILE* out, OutputMode mode, bool terminal);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The trace file (not owned), or null.
    void SetTraceFile(FILE* trace) { trace_ = trace; }
    // Bytes a download moves: the bars of its transfer steps show bytes/s and time left.
    void SetTotalBytes(uint64_t bytes) { totalBytes_ = bytes; }
    // The step a failure happened in: the first progress text that reports a failure, else
    // the last one; empty before any.
    std::string LastStep() const;
    // The first progress text that reports a failure; empty when none did.
    std::string FailedStep() const;
    // Prints a line of the task's own (ends a bar first); only in human mode unless always
    // is set.
    void Line(const std::string& text, bool always = false);

    // Human output leaves out the events from here on (the clean-up after the result).
    void Mute() {
        std::lock_guard lock(mutex_);
        EndBarLocked();
        muted_ = true;
    }

    int32_t DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                               const std::string& strInfo) override;
    int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) override;
    int32_t DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) override;

  private:
    void PrintLocked(const std::string& text);
    void EndBarLocked();
    void TraceLocked(const char* kind, const std::string& text);
    void ShowStepLocked(int16_t block, int percent, const std::string& text);
    void DrawBarLocked(int16_t block, int percent, const std::string& text);

    FILE* out_;
    OutputMode mode_;
    bool terminal_;
    FILE* trace_ = nullptr;
    uint64_t totalBytes_ = 0;
    mutable std::mutex mutex_;
    std::string lastStep_;
    std::string lastPrinted_;
    std::string lastStatus_;
    bool barShown_ = false;
    bool muted_ = false;
    bool failureSeen_ = false;
    int16_t barBlock_ = -1;
    bool barTransfer_ = false;
    int barPercent_ = 0;
    int barStartPercent_ = 0;
    Clock::time_point barStart_;
};

}  // namespace diagbridge::cli
