#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/CD5Device.h"

namespace diagbridge {

// KWP2000 on the K-line as the T60 controllers speak it: 10400 baud, fast initialisation
// (25 ms break, then StartCommunication, key bytes 6B 8F), physically addressed frames
//   format (0x80 + length, or 0x80 and a length byte from 64 data bytes on), target, source,
//   [length], data..., checksum (low 8 bits of the sum of all bytes before it)
// and the echo of every sent byte that a wired K-line adapter returns. Also identifies the
// SkyLink wireless adapter.
//
// SkyLink identification: the command kSkyLinkIdentCommand followed by a carriage return;
// the adapter answers with at least 30 bytes, the first being its firmware version times
// ten.
class CT60 : public CD5Device {
  public:
    static constexpr int32_t kKLineBaud = 10400;
    static constexpr uint8_t kStartCommunication = 0x81;
    static constexpr uint8_t kStopCommunication = 0x82;
    static constexpr uint8_t kKeyByte1 = 0x6B;
    static constexpr uint8_t kKeyByte2 = 0x8F;
    static constexpr uint8_t kFormatPhysical = 0x80;
    static constexpr uint8_t kFormatModeMask = 0xC0;
    static constexpr uint8_t kFormatLengthMask = 0x3F;
    static constexpr uint32_t kMaxDataLength = 255;
    // Format, target, source, length byte, 255 data bytes, checksum.
    static constexpr uint32_t kMaxFrameLength = 4 + kMaxDataLength + 1;
    static constexpr char kSkyLinkIdentCommand[] = "#SKYIDENT";  // nine ASCII characters
    static constexpr int32_t kSkyLinkProbeTimeoutMs = 1000;
    static constexpr uint8_t kPositiveOffset = 0x40;
    static constexpr uint8_t kNegativeResponse = 0x7F;
    // P3min of ISO 14230-2 standard timing: the least pause between the end of an answer and
    // the next request.
    static constexpr uint32_t kStandardP3MinMs = 55;
    // Bytes that keep arriving before a request stop delaying it after this long.
    static constexpr uint32_t kMaxQuietWaitMs = 2000;
    // Answers to older requests read and dropped while waiting for the answer of this one.
    static constexpr uint32_t kMaxStaleFrames = 64;

    // Low 8 bits of the sum of count bytes.
    static uint8_t Checksum(const uint8_t* bytes, size_t count);
    // Writes the frame that carries count data bytes (1..255) from source to target into
    // frame; returns its length, 0 when count or capacity does not fit.
    static uint32_t BuildFrame(uint8_t target, uint8_t source, const uint8_t* data, uint32_t count,
                               uint8_t* frame, uint32_t capacity);

    // Stores port and reserved word; no port object, echo off, default addresses.
    CT60(int32_t port, int32_t reserved, int32_t isSkyLink);
    ~CT60() override;

    // Starts from a fresh port object: echo expected unless isSkyLink; returns LastError:
    // 0 opened, 1 port not opened (also for a port number outside 0..255).
    int32_t Open(int32_t port, int32_t reserved, int32_t baud, int32_t timeoutMs,
                 int32_t isSkyLink) override;
    // Deletes the port object; LastError, ErrorCount and the open flag become 0. Returns 0.
    int32_t Close() override;
    // Sets baud 8N1 without handshake; 0.
    int32_t SetBaudRate(int32_t baud) override;
    // 10400 baud 8N1 and WakeUp; 1 connected, 0 not.
    int32_t Connect() override;
    // Fast initialisation and StartCommunication; 1 when the key bytes 6B 8F came back.
    int32_t WakeUp() override;
    // One exchange of count (1..255) request data bytes, tried twice when no valid answer
    // comes. The request goes out only after the line was quiet for the inter-request time
    // since the last answer; bytes arriving meanwhile belong to an abandoned exchange and are
    // dropped. Only an answer to this request counts (its service id + 0x40 with the parameter
    // byte the service repeats, or 7F and its service id); other frames are read and dropped.
    // response receives the data (service identifier first) and the checksum, so it needs the data
    // count + 1 bytes. Returns the data count; 0 with LastError 2 (no answer after two attempts,
    // each counted in ErrorCount) or 6 (wrong checksum, not retried).
    int32_t SendCommand(const uint8_t* data, uint32_t count, uint8_t* response,
                        uint32_t capacity) override;
    // Reads one more response frame to the last request without sending (frames answering
    // other requests are dropped); as SendCommand for the result.
    int32_t ReceiveResponse(uint8_t* buffer, uint32_t capacity) override;
    // Writes the complete frame (count bytes) unchanged and reads the answer frame, header
    // and checksum included, into the same buffer; returns its length, 0 on failure.
    int32_t TransferFrame(uint8_t* frame, uint32_t count, uint32_t capacity) override;
    // Sends StopCommunication no earlier than the inter-request time after the last answer
    // (no answer is read) and waits 100 ms; only while open.
    void StopCommunication() override;
    // "RS232 at Port: %d"; on SkyLink the adapter's firmware version, "SkyLinkV%d.%d at
    // Port: %d", or "SkyLink not available". Probes through a port object of its own
    // unless this device has that SkyLink port open.
    std::string DescribePort(int32_t port, int32_t baud, int32_t isSkyLink) override;

    // P3min in ms (0: none); kStandardP3MinMs until set.
    void SetInterRequestTime(uint32_t ms) override { interRequestMs_ = ms; }
    uint32_t InterRequestTime() const { return interRequestMs_; }

    int32_t IsConnected() const { return connected_; }
    int32_t PortNumber() const { return portNumber_; }
    int32_t Reserved() const { return reserved_; }

  private:
    struct Header {
        std::array<uint8_t, 4> bytes{};
        uint32_t length = 0;      // 3, or 4 with a length byte
        uint32_t dataLength = 0;  // 1..255
    };
    enum class FrameResult { kOk, kNoAnswer, kBadChecksum };

    // Reads one frame: its header into header, data and checksum into data (capacity bytes).
    FrameResult ReadFrame(Header& header, uint8_t* data, uint32_t capacity);
    // Reads frames until one answers the expected request; the others are dropped.
    FrameResult ReadAnswer(Header& header, uint8_t* data, uint32_t capacity);
    // Reads up to the echo of the length bytes of frame on a wired line; false when it did
    // not come.
    bool SkipEcho(const uint8_t* frame, uint32_t length);
    // Remembers the request whose answer the following reads wait for.
    void Expect(const uint8_t* data, uint32_t count);
    // Holds the next request until the line was quiet for the inter-request time, dropping
    // what arrives meanwhile.
    void AwaitQuietLine();
    // One write of frame and read of the answer; the echo skipped on a wired line.
    FrameResult Exchange(const uint8_t* frame, uint32_t length, Header& header, uint8_t* data,
                         uint32_t capacity);
    int32_t Settle(FrameResult result, const Header& header);
    void CountFailedAttempt();
    bool ProbeSkyLink(CV24Comm& comm, uint8_t& version);

    int32_t portNumber_;
    int32_t reserved_;
    int32_t connected_ = 0;
    std::array<uint8_t, kMaxDataLength> expectedRequest_{};
    uint32_t expectedLength_ = 0;
    uint32_t interRequestMs_ = kStandardP3MinMs;
    uint32_t lastAnswerTick_ = 0;
};

}  // namespace diagbridge
