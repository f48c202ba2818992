#include "tools/diagbridge/KlineLog.h"

#include "tools/diagbridge/TimeStamp.h"

namespace diagbridge::cli {

void SerialByteLog::Bytes(const char* direction, const uint8_t* data, size_t count) {
    if (count == 0) return;
    std::string text = direction;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof(byte), " %02X", data[i]);
        text += byte;
    }
    Note(text);
}

void SerialByteLog::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "%s %s\n", TimeStamp().c_str(), text.c_str());
    std::fflush(file_);
}

LoggingSerialPort::LoggingSerialPort(std::unique_ptr<platform::ISerialPort> inner,
                                     SerialByteLog& log)
    : inner_(std::move(inner)), log_(log) {}

uint32_t LoggingSerialPort::Open(const std::string& path) {
    const uint32_t error = inner_->Open(path);
    log_.Note("OPEN " + path + (error == 0 ? "" : " failed (" + std::to_string(error) + ")"));
    return error;
}

void LoggingSerialPort::Close() {
    inner_->Close();
    log_.Note("CLOSE");
}

bool LoggingSerialPort::SetLine(const platform::LineSettings& line) {
    log_.Note("LINE " + std::to_string(line.baud) + " baud");
    return inner_->SetLine(line);
}

size_t LoggingSerialPort::Write(const uint8_t* data, size_t count, uint32_t timeoutMs) {
    const size_t written = inner_->Write(data, count, timeoutMs);
    log_.Bytes("TX", data, written);
    return written;
}

size_t LoggingSerialPort::Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
    const size_t read = inner_->Read(buffer, count, timeoutMs);
    log_.Bytes("RX", buffer, read);
    return read;
}

void LoggingSerialPort::SetBreak(bool on) {
    inner_->SetBreak(on);
    log_.Note(on ? "BREAK on" : "BREAK off");
}

}  // namespace diagbridge::cli
