#pragma once
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/SerialRecorder.h"

namespace diagbridge::testfakes {

// A scripted line: each write is echoed (when echo is on) and answered with the next queued
// reply. Reads take what is queued and never wait.
struct FakeLine {
    bool echo = false;
    uint32_t failingOpens = 0;  // the next opens fail with ENOENT
    uint32_t opens = 0;
    std::string lastPath;
    std::vector<uint8_t> leading;  // arrive before the echo and reply of the next write
    std::deque<uint8_t> received;
    std::deque<std::vector<uint8_t>> replies;

    void Queue(std::vector<uint8_t> reply) { replies.push_back(std::move(reply)); }
};

class FakeSerialPort final : public platform::ISerialPort {
  public:
    explicit FakeSerialPort(FakeLine& line) : line_(line) {}

    uint32_t Open(const std::string& path) override {
        ++line_.opens;
        line_.lastPath = path;
        if (line_.failingOpens > 0) {
            --line_.failingOpens;
            return ENOENT;
        }
        open_ = true;
        return 0;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    bool SetLine(const platform::LineSettings&) override { return open_; }
    size_t Write(const uint8_t* data, size_t count, uint32_t) override {
        line_.received.insert(line_.received.end(), line_.leading.begin(), line_.leading.end());
        line_.leading.clear();
        if (line_.echo) line_.received.insert(line_.received.end(), data, data + count);
        if (!line_.replies.empty()) {
            const auto& reply = line_.replies.front();
            line_.received.insert(line_.received.end(), reply.begin(), reply.end());
            line_.replies.pop_front();
        }
        return count;
    }
    size_t Read(uint8_t* buffer, size_t count, uint32_t) override {
        size_t got = 0;
        for (; got < count && !line_.received.empty(); ++got) {
            buffer[got] = line_.received.front();
            line_.received.pop_front();
        }
        return got;
    }
    uint32_t QueuedBytes(bool receive) override {
        return receive ? static_cast<uint32_t>(line_.received.size()) : 0;
    }
    void Discard(bool receive, bool) override {
        if (receive) line_.received.clear();
    }
    void SetBreak(bool) override {}
    void ClearErrors() override {}

  private:
    FakeLine& line_;
    bool open_ = false;
};

// Installs fake ports on line, every call recorded in log.
inline platform::SerialPortFactory FakePortFactory(FakeLine& line, platform::SerialLog& log) {
    return [&line, &log] {
        return std::make_unique<platform::RecordingSerialPort>(
            std::make_unique<FakeSerialPort>(line), log);
    };
}

}  // namespace diagbridge::testfakes
