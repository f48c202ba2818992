#pragma once
#include <cstdint>
#include <memory>

#include "platform/SerialPort.h"

namespace diagbridge {

// One COM port: a wired RS232 adapter (real UART: speed and break matter) or the SkyLink
// wireless adapter (a virtual COM port with a fixed speed and no break). Used by one
// thread at a time. Every operation except Open does nothing (or gives 0) while closed.
class CV24Comm {
  public:
    // Purge flags (the Win32 values the callers use).
    static constexpr uint32_t kPurgeTxAbort = 0x1;
    static constexpr uint32_t kPurgeRxAbort = 0x2;
    static constexpr uint32_t kPurgeTxClear = 0x4;
    static constexpr uint32_t kPurgeRxClear = 0x8;
    static constexpr int32_t kDefaultTimeoutMs = 500;

    // Stores the settings; opens nothing. baud is the speed a SkyLink port always uses.
    CV24Comm(uint8_t port, int32_t baud, int32_t isSkyLink, int32_t reserved = 0);
    // Closes the port when it is open.
    virtual ~CV24Comm();
    CV24Comm(const CV24Comm&) = delete;
    CV24Comm& operator=(const CV24Comm&) = delete;

    // Opens the port with timeoutMs for every later read and write (doubled on a SkyLink
    // port). A wired port is tried once; a SkyLink port every 2 s for 10 s. 1 opened, 0 not
    // (the OS error stays in LastError). Leaves the line format as the driver had it.
    int32_t Open(int32_t timeoutMs);
    // Line format: data bits 5..8, stop-bits code 0 one / 1 one and a half / 2 two, parity
    // code 0 none / 1 odd / 2 even / 3 mark / 4 space, handshake nonzero for RTS/CTS.
    // A SkyLink port keeps the constructor's speed. 1 set, 0 refused or bad arguments.
    int32_t SetLine(int32_t baud, uint8_t dataBits, uint8_t stopBitsCode, uint8_t parityCode,
                    int32_t handshake);
    // Writes all count bytes and waits until they are sent; true when all were written.
    bool Write(const uint8_t* data, uint32_t count);
    // 1 when the byte was written, 0 otherwise.
    int32_t WriteByte(uint8_t byte);
    // Reads up to count bytes within the time-out; returns how many came. A wired port
    // returns what came (fewer than count on time-out); a SkyLink port gives 0 unless all
    // count bytes came.
    uint32_t Read(uint8_t* buffer, uint32_t count);
    bool ReadByte(uint8_t* buffer);
    // Bytes waiting in the receive queue (selector nonzero) or the transmit queue (0).
    // Also resets the port's line errors; callers use it for that after a failed exchange.
    uint32_t GetQueueCount(int32_t selector);
    // Discards the queues named by the purge flags; on a wired port also ends the break.
    void Purge(uint32_t flags);
    // Break on (line low) or off; does nothing on a SkyLink port.
    void SetBreak(int32_t on);
    // Closes the port (every write has already waited until its bytes were sent).
    void Close();

    bool IsOpen() const { return port_ != nullptr && port_->IsOpen(); }
    int32_t TimeoutMs() const { return timeoutMs_; }
    uint32_t LastError() const { return lastError_; }
    uint8_t Port() const { return portNumber_; }
    int32_t Baud() const { return baud_; }
    int32_t IsSkyLink() const { return isSkyLink_; }

  private:
    uint32_t TryOpen();

    int32_t baud_;
    int32_t timeoutMs_ = kDefaultTimeoutMs;
    uint32_t lastError_ = 0;
    uint8_t portNumber_;
    int32_t isSkyLink_;
    std::unique_ptr<platform::ISerialPort> port_;
};

}  // namespace diagbridge
