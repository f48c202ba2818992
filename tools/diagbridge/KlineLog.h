#pragma once
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/SerialPort.h"

namespace diagbridge::cli {

// Writes what crosses a serial line, one line per call with the wall-clock time:
// "<time> TX 81 10 F1 81 03", "<time> RX ...", "<time> LINE 10400 baud",
// "<time> BREAK on". Shared by every port of the process; safe from any thread.
class SerialByteLog {
  public:
    explicit SerialByteLog(FILE* file) : file_(file) {}
    void Bytes(const char* direction, const uint8_t* data, size_t count);
    void Note(const std::string& text);

  private:
    std::mutex mutex_;
    FILE* file_;
};

// Passes every call to the OS port and writes the bytes and line changes to the log.
class LoggingSerialPort final : public platform::ISerialPort {
  public:
    LoggingSerialPort(std::unique_ptr<platform::ISerialPort> inner, SerialByteLog& log);

    uint32_t Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return inner_->IsOpen(); }
    bool SetLine(const platform::LineSettings& line) override;
    size_t Write(const uint8_t* data, size_t count, uint32_t timeoutMs) override;
    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) override;
    uint32_t QueuedBytes(bool receive) override { return inner_->QueuedBytes(receive); }
    void Discard(bool receive, bool transmit) override { inner_->Discard(receive, transmit); }
    void SetBreak(bool on) override;
    void ClearErrors() override { inner_->ClearErrors(); }

  private:
    std::unique_ptr<platform::ISerialPort> inner_;
    SerialByteLog& log_;
};

}  // namespace diagbridge::cli
