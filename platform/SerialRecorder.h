#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace diagbridge::platform {

// One call on a recorded port, stamped with the process clock at the moment it was made.
struct SerialEvent {
    enum class Kind { Open, Close, SetLine, Write, Read, Discard, BreakOn, BreakOff };
    Kind kind = Kind::Open;
    uint32_t tickMs = 0;
    uint32_t baud = 0;           // SetLine
    std::vector<uint8_t> bytes;  // Write: the bytes given; Read: the bytes that came
    bool receive = false;        // Discard
    bool transmit = false;       // Discard
};

// The calls of every port a RecordingSerialPort wraps, in order. Safe from any thread.
class SerialLog {
  public:
    void Add(SerialEvent event);
    std::vector<SerialEvent> Events() const;
    // The events of one kind, in order.
    std::vector<SerialEvent> Events(SerialEvent::Kind kind) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<SerialEvent> events_;
};

// Passes every call to the wrapped port and writes it into the log. Lets break timing and
// wake-up patterns be checked on lines that carry no break (pseudo-terminals) or on no line
// at all.
class RecordingSerialPort final : public ISerialPort {
  public:
    RecordingSerialPort(std::unique_ptr<ISerialPort> inner, SerialLog& log);

    uint32_t Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override;
    bool SetLine(const LineSettings& line) override;
    size_t Write(const uint8_t* data, size_t count, uint32_t timeoutMs) override;
    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) override;
    uint32_t QueuedBytes(bool receive) override;
    void Discard(bool receive, bool transmit) override;
    void SetBreak(bool on) override;
    void ClearErrors() override;

  private:
    static SerialEvent Stamp(SerialEvent::Kind kind);

    std::unique_ptr<ISerialPort> inner_;
    SerialLog& log_;
};

}  // namespace diagbridge::platform
