#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace diagbridge::platform {

// Line format of a serial port. The codes are those of the Win32 DCB.
struct LineSettings {
    uint32_t baud = 9600;    // bits per second; any rate the driver takes (5, 10400, ...)
    uint8_t dataBits = 8;    // 5..8
    uint8_t stopBits = 0;    // 0 one, 1 one and a half, 2 two
    uint8_t parity = 0;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool handshake = false;  // RTS/CTS flow control
};

// One serial device of the operating system. Used by one thread at a time. Every wait is
// bounded by the time-out given (real time: the OS waits, not the process clock).
class ISerialPort {
  public:
    virtual ~ISerialPort() = default;
    // Opens path exclusively, raw (no echo, no line editing); 0 on success, else the OS error.
    virtual uint32_t Open(const std::string& path) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Applies the line format; false when the driver refuses it or the port is closed.
    virtual bool SetLine(const LineSettings& line) = 0;
    // Writes count bytes and waits until the driver has sent them, at most timeoutMs in all;
    // returns the number of bytes written.
    virtual size_t Write(const uint8_t* data, size_t count, uint32_t timeoutMs) = 0;
    // Waits until count bytes came or timeoutMs passed; returns the number read (0..count).
    virtual size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) = 0;
    // Bytes waiting in the receive (true) or the transmit (false) queue; 0 when closed.
    virtual uint32_t QueuedBytes(bool receive) = 0;
    // Throws away what waits in the chosen queues.
    virtual void Discard(bool receive, bool transmit) = 0;
    // Holds the line in the break state (on) or releases it.
    virtual void SetBreak(bool on) = 0;
    // Resets pending line errors (framing, overrun) so that reading goes on.
    virtual void ClearErrors() = 0;
};

using SerialPortFactory = std::function<std::unique_ptr<ISerialPort>()>;

// A new, closed port of the installed factory (the OS implementation unless a test
// installed another).
std::unique_ptr<ISerialPort> CreateSerialPort();

// The OS implementation (termios or Win32 communications).
std::unique_ptr<ISerialPort> CreateOsSerialPort();

// Installs factory for CreateSerialPort while this object lives; restores the previous one.
class ScopedSerialPortFactory {
  public:
    explicit ScopedSerialPortFactory(SerialPortFactory factory);
    ~ScopedSerialPortFactory();
    ScopedSerialPortFactory(const ScopedSerialPortFactory&) = delete;
    ScopedSerialPortFactory& operator=(const ScopedSerialPortFactory&) = delete;

  private:
    SerialPortFactory previous_;
};

// Device path of COM port number port on this platform.
std::string ComPortPath(uint8_t port);
// POSIX: the value of the environment variable DIAGBRIDGE_COM<port> when set, else
// /dev/ttyS<port-1> (empty for port 0, which does not exist).
std::string PosixComPortPath(uint8_t port);
// Win32: "COM<port>", with "\\.\" in front from port 9 on (the device namespace).
std::string Win32ComPortName(uint8_t port);

}  // namespace diagbridge::platform
