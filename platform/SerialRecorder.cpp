#include "platform/SerialRecorder.h"

#include <utility>

#include "platform/Clock.h"

namespace diagbridge::platform {

void SerialLog::Add(SerialEvent event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<SerialEvent> SerialLog::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<SerialEvent> SerialLog::Events(SerialEvent::Kind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<SerialEvent> chosen;
    for (const auto& event : events_) {
        if (event.kind == kind) chosen.push_back(event);
    }
    return chosen;
}

void SerialLog::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

RecordingSerialPort::RecordingSerialPort(std::unique_ptr<ISerialPort> inner, SerialLog& log)
    : inner_(std::move(inner)), log_(log) {}

SerialEvent RecordingSerialPort::Stamp(SerialEvent::Kind kind) {
    SerialEvent event;
    event.kind = kind;
    event.tickMs = Clock().TickMs();
    return event;
}

uint32_t RecordingSerialPort::Open(const std::string& path) {
    log_.Add(Stamp(SerialEvent::Kind::Open));
    return inner_->Open(path);
}

void RecordingSerialPort::Close() {
    log_.Add(Stamp(SerialEvent::Kind::Close));
    inner_->Close();
}

bool RecordingSerialPort::IsOpen() const {
    return inner_->IsOpen();
}

bool RecordingSerialPort::SetLine(const LineSettings& line) {
    SerialEvent event = Stamp(SerialEvent::Kind::SetLine);
    event.baud = line.baud;
    log_.Add(std::move(event));
    return inner_->SetLine(line);
}

size_t RecordingSerialPort::Write(const uint8_t* data, size_t count, uint32_t timeoutMs) {
    SerialEvent event = Stamp(SerialEvent::Kind::Write);
    if (data != nullptr) event.bytes.assign(data, data + count);
    log_.Add(std::move(event));
    return inner_->Write(data, count, timeoutMs);
}

size_t RecordingSerialPort::Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
    // Stamped when the read began.
    SerialEvent event = Stamp(SerialEvent::Kind::Read);
    const size_t got = inner_->Read(buffer, count, timeoutMs);
    if (buffer != nullptr) event.bytes.assign(buffer, buffer + got);
    log_.Add(std::move(event));
    return got;
}

uint32_t RecordingSerialPort::QueuedBytes(bool receive) {
    return inner_->QueuedBytes(receive);
}

void RecordingSerialPort::Discard(bool receive, bool transmit) {
    SerialEvent event = Stamp(SerialEvent::Kind::Discard);
    event.receive = receive;
    event.transmit = transmit;
    log_.Add(std::move(event));
    inner_->Discard(receive, transmit);
}

void RecordingSerialPort::SetBreak(bool on) {
    log_.Add(Stamp(on ? SerialEvent::Kind::BreakOn : SerialEvent::Kind::BreakOff));
    inner_->SetBreak(on);
}

void RecordingSerialPort::ClearErrors() {
    inner_->ClearErrors();
}

}  // namespace diagbridge::platform
