#pragma once
// A scripted serial line for the T40 and Kalidor devices: each write releases the next queued
// reply, which becomes readable at the next read (so a purge between the write and the read,
// as the wake-ups do, keeps it). A read that finds fewer bytes than asked for spends its
// whole time-out on the manual clock, as a real port would.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/SerialRecorder.h"

namespace diagbridge::testfakes {

using Bytes = std::vector<uint8_t>;

struct ScriptedLine {
    std::deque<Bytes> replies;  // one per write, in order; an empty reply is silence
    Bytes pending;              // released by the last write, readable at the next read
    std::deque<uint8_t> received;
    platform::ManualClock* clock = nullptr;

    void Queue(Bytes reply) { replies.push_back(std::move(reply)); }
    // Bytes the controller sends by itself, readable at once.
    void Arrive(const Bytes& bytes) { received.insert(received.end(), bytes.begin(), bytes.end()); }
    void Release() {
        received.insert(received.end(), pending.begin(), pending.end());
        pending.clear();
    }
};

class ScriptedPort final : public platform::ISerialPort {
  public:
    explicit ScriptedPort(ScriptedLine& line) : line_(line) {}
    uint32_t Open(const std::string&) override {
        open_ = true;
        return 0;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    bool SetLine(const platform::LineSettings&) override { return open_; }
    size_t Write(const uint8_t*, size_t count, uint32_t) override {
        line_.Release();
        if (!line_.replies.empty()) {
            line_.pending = line_.replies.front();
            line_.replies.pop_front();
        }
        return count;
    }
    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        line_.Release();
        size_t got = 0;
        for (; got < count && !line_.received.empty(); ++got) {
            buffer[got] = line_.received.front();
            line_.received.pop_front();
        }
        if (got < count && line_.clock != nullptr) line_.clock->Advance(timeoutMs);
        return got;
    }
    uint32_t QueuedBytes(bool receive) override {
        line_.Release();
        return receive ? static_cast<uint32_t>(line_.received.size()) : 0;
    }
    void Discard(bool receive, bool) override {
        if (receive) line_.received.clear();
    }
    void SetBreak(bool) override {}
    void ClearErrors() override {}

  private:
    ScriptedLine& line_;
    bool open_ = false;
};

// Installs scripted ports on line, every call recorded in log, and the manual clock.
class ScriptedLineFixture {
  public:
    ScriptedLineFixture()
        : scopedClock_(clock), factory_([this] {
              return std::make_unique<platform::RecordingSerialPort>(
                  std::make_unique<ScriptedPort>(line), log);
          }) {
        line.clock = &clock;
    }

    // The bytes of every write, in order.
    std::vector<Bytes> Writes() const {
        std::vector<Bytes> writes;
        for (const auto& event : log.Events(platform::SerialEvent::Kind::Write)) {
            writes.push_back(event.bytes);
        }
        return writes;
    }

    platform::ManualClock clock{1000};
    ScriptedLine line;
    platform::SerialLog log;

  private:
    platform::ScopedClock scopedClock_;
    platform::ScopedSerialPortFactory factory_;
};

}  // namespace diagbridge::testfakes
