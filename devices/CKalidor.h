#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "devices/CD5Device.h"

namespace diagbridge {

// The Kalidor retarder controllers' line protocol on an RS232 port at 9600 baud: a break
// wake-up with the hand-shake 07 80 / 83 06 xx xx 80, commands closed by the byte 0x80 and
// answered by 3 header bytes, the payload and one trailing byte; and frames the controller
// sends by itself, 55 79 80 ..., complete when their length t fits
//   t = B[11] + 2 * B[12 + B[11]] + 13   or   t = 2 * B[12] + 13.
class CKalidor : public CD5Device {
  public:
    static constexpr int32_t kLineBaud = 9600;
    static constexpr int32_t kPortTimeoutMs = 400;
    static constexpr uint8_t kTerminator = 0x80;
    static constexpr uint8_t kWakeUpCommand = 0x07;
    static constexpr uint8_t kHandShakeAnswer = 0x83;
    static constexpr uint8_t kHandShakeCommand = 0x06;
    static constexpr uint8_t kStopCommand = 0x0F;
    static constexpr uint32_t kBreakMs = 200;
    static constexpr uint32_t kAfterBreakMs = 1000;
    static constexpr uint32_t kHandShakePauseMs = 200;
    static constexpr uint32_t kAfterHandShakeMs = 10;
    static constexpr uint32_t kStopPauseMs = 200;
    static constexpr int kWakeUpTries = 5;
    static constexpr uint32_t kWakeUpReplyLength = 7;
    static constexpr uint32_t kReplyCapacity = 256;
    static constexpr uint32_t kHeaderLength = 3;
    static constexpr uint8_t kFrameHeader[kHeaderLength] = {0x55, 0x79, 0x80};
    static constexpr uint32_t kFrameSettleMs = 200;
    static constexpr uint32_t kMaxFrameBody = 250;
    static constexpr uint32_t kFrameWindowMs = 2000;
    static constexpr int32_t kNoPortObject = -7;

    // The length t of a frame B (header included) fits one of the two rules.
    static bool FrameComplete(const uint8_t* frame, uint32_t length);

    // Creates the port object on port and opens it (9600 8N1, 400 ms); LastError 0 opened,
    // 1 not.
    CKalidor(int32_t port, int32_t reserved1, int32_t reserved2);
    ~CKalidor() override;

    // Waits at most 2000 ms (on the clock) for one frame the controller sends by itself and
    // copies it, header included, into buffer (capacity bytes at least 253). Its length; 0
    // with LastError 2 when none came.
    int32_t ReceiveFrame(uint8_t* buffer, uint32_t capacity) override;
    // 12 texts: 0 "RetarderKL", 8 "Kalidor", 11 "0"; bytes: the ident bytes behind a 2-byte
    // big-endian count. Returns 1.
    int32_t GetIdent(std::vector<std::string>* texts, std::vector<uint8_t>* bytes) override;
    // The ident bytes (empty unless set); their count.
    int32_t GetIdentBytes(std::vector<uint8_t>* bytes) override;
    // Writes the count command bytes and 0x80 and reads the answer (one read of up to 256
    // bytes within 400 ms); its payload (without 3 header bytes and the trailing byte) goes
    // to response (capacity bytes). The payload count; 0 for an answer of 4 bytes or fewer;
    // -7 without a port object.
    int32_t SendCommand(const uint8_t* data, uint32_t count, uint8_t* response,
                        uint32_t capacity) override;
    // Break wake-up and hand-shake, up to 5 tries; 1 awake, 0 not.
    int32_t WakeUp() override;
    // 0F 80 when a port exists, then 200 ms.
    void StopCommunication() override;
    int32_t Reserved10() { return 1; }

    void SetIdentBytes(const std::vector<uint8_t>& bytes) { identBytes_ = bytes; }
    int32_t PortNumber() const { return portNumber_; }

  private:
    bool HuntHeader();
    void PurgeBoth();
    bool WriteByte(uint8_t byte);

    int32_t portNumber_;
    std::vector<uint8_t> identBytes_;
};

}  // namespace diagbridge
