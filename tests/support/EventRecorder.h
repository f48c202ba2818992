#pragma once
// Records the events of a communication object or of the command interface, thread-safe.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "component/ICommandInterfaceEvents.h"
#include "engine/IServiceEvents.h"

namespace diagbridge::testing {

struct RecordedEvent {
    std::string kind;  // "progress", "status", "trace"
    int32_t a = 0;     // block id, status code or trace id
    int32_t b = 0;     // progress
    std::string text;
    bool operator==(const RecordedEvent&) const = default;
};

class EventRecorder : public IServiceEvents, public ICommandInterfaceEvents {
  public:
    void FireProgress(int16_t blockId, int16_t progress, const std::string& info) override {
        Add({"progress", blockId, progress, info});
    }
    void FireStatus(int32_t status, const std::string& text) override {
        Add({"status", status, 0, text});
    }
    void FireTrace(int32_t traceId, const std::string& trace) override {
        Add({"trace", traceId, 0, trace});
    }
    int32_t DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                               const std::string& strInfo) override {
        FireProgress(iBlockId, iProgress, strInfo);
        return 0;
    }
    int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) override {
        FireStatus(lStatus, strStatus);
        return 0;
    }
    int32_t DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) override {
        FireTrace(lTraceId, strTrace);
        return 0;
    }

    std::vector<RecordedEvent> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<RecordedEvent> OfKind(const std::string& kind) {
        std::vector<RecordedEvent> found;
        for (const auto& e : Events()) {
            if (e.kind == kind) found.push_back(e);
        }
        return found;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    // Waits (at most 10 s) until at least count events of kind arrived.
    bool WaitFor(const std::string& kind, std::size_t count) {
        std::unique_lock lock(mutex_);
        return added_.wait_for(lock, std::chrono::seconds(10), [&] {
            std::size_t n = 0;
            for (const auto& e : events_) n += e.kind == kind ? 1 : 0;
            return n >= count;
        });
    }

  private:
    void Add(RecordedEvent event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        added_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable added_;
    std::vector<RecordedEvent> events_;
};

}  // namespace diagbridge::testing
