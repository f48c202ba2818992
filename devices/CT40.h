#pragma once
#include <cstdint>
#include <string>

#include "devices/CD5Device.h"

namespace diagbridge {

// The T40 transmission controllers' line protocol on a wired RS232 or a SkyLink adapter:
// a 5-baud address wake-up (0x26), then at 9600 baud (19200/38400 while downloading)
// request and response frames
//   L, command or response code, data..., checksum
// where L counts the bytes after it and the checksum is the low 8 bits of the sum of all
// bytes before it. A boot-loader hand-shake precedes flash programming.
class CT40 : public CD5Device {
  public:
    static constexpr int32_t kLineBaud = 9600;
    static constexpr int32_t kWakeUpBaud = 5;
    static constexpr uint8_t kWakeUpAddress = 0x26;
    static constexpr uint8_t kKeyByteAcknowledge = 0x79;
    static constexpr uint8_t kSecondKeyByteFollows = 0x20;
    static constexpr uint8_t kStartCommand = 0x09;
    static constexpr uint8_t kStopCommand = 0x06;
    static constexpr uint32_t kWakeUpWaitMs = 2100;
    static constexpr uint32_t kKeyByteGapMs = 20;
    // Largest data count of one request: L = count + 2 must stay below 255.
    static constexpr uint32_t kMaxDataCount = 252;
    static constexpr char kFlashEntryCode[] = "KQZB&RUA";  // eight characters
    static constexpr uint32_t kFlashEntryCodeLength = 8;
    static constexpr uint32_t kFlashModeWindowMs = 30000;
    static constexpr uint32_t kH4PollMs = 20;
    static constexpr uint32_t kH5PollMs = 22;
    static constexpr uint32_t kFlashSettleMs = 100;
    static constexpr const char* kUnknownFlashIdent = "XXXX";

    // Low 8 bits of the sum of count bytes.
    static uint8_t Checksum(const uint8_t* bytes, uint32_t count);

    // Stores the port number; FlashIdent "XXXX"; opens nothing.
    CT40(int32_t port, int32_t reserved, int32_t isSkyLink);
    ~CT40() override;

    // Writes the bytes unchanged; true when all were written.
    bool WriteRaw(const uint8_t* data, uint32_t count) override;
    // Sets the line to baud 8N1 (a SkyLink port keeps its own speed); 0.
    int32_t SetBaudRate(int32_t baud) override;
    // Sends one request frame (count 0..252 data bytes) and reads one response frame into
    // the receive buffer (length byte first). Nonzero on success; else LastError is 2 (no
    // answer), 6 (checksum), 7 (length byte 0 or >= 255, a byte missing, or a request too
    // long or not written).
    int32_t Transact(uint8_t command, uint32_t count, const uint8_t* data) override;
    // Opens a fresh port object on port (baud: the speed a SkyLink port keeps), the line at
    // 9600 8N1; 0 opened, else 1.
    int32_t Open(int32_t port, int32_t reserved, int32_t baud, int32_t timeoutMs,
                 int32_t isSkyLink) override;
    // Deletes the port object; LastError, ErrorCount and the open flag become 0. Returns 0.
    int32_t Close() override;
    // 5-baud address, 2100 ms, sync and key bytes, 0x79, then request 09; 1 when answered,
    // 0 at once when the port is not open.
    int32_t WakeUp() override;
    // Request 06 (its answer read but not needed).
    void StopCommunication() override;
    // Sends the entry code until the boot loader answers "I"/"H", at most 30 s (on the
    // clock). 0 answered ("IAMREADY": FlashIdent "H4", "H5 READY": "H5"), 7 not.
    int32_t EnterFlashMode(const std::string& hardwareType) override;

    // The last response frame, length byte first (valid up to 1 + ResponseLength()).
    const uint8_t* ResponseFrame() const { return receiveBuffer_.data(); }
    // L of the last good response: the bytes after the length byte.
    uint32_t ResponseLength() const { return responseLength_; }
    const std::string& FlashIdent() const { return flashIdent_; }
    int32_t IsH4() const { return isH4_; }
    int32_t PortNumber() const { return portNumber_; }

  private:
    bool ReadResponse();
    void SetLine(int32_t baud);
    void PurgeBoth();
    bool PollBootLoader(uint32_t pollMs);
    void ReadBootLoaderText(uint8_t first);

    int32_t portNumber_;
    std::string flashIdent_ = kUnknownFlashIdent;
    int32_t isH4_ = 1;
    uint32_t responseLength_ = 0;
};

}  // namespace diagbridge
