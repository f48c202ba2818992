#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/CV24Comm.h"

namespace diagbridge {

// Base of the devices that speak a controller family's byte protocol over one serial port
// (CT60: KWP2000 on the K-line; CT40, CKalidor). Deals only in bytes; the serial device
// containers convert to and from hex text. Every base operation ignores its arguments and
// does nothing (0). Lengths and capacities are in bytes; no operation writes past the
// capacity it is given.
class CD5Device {
  public:
    // LastError values shared by the devices.
    static constexpr int32_t kOk = 0;
    static constexpr int32_t kPortNotOpened = 1;
    static constexpr int32_t kNoAnswer = 2;
    static constexpr int32_t kBadChecksum = 6;
    static constexpr int32_t kBadFrame = 7;

    static constexpr uint8_t kDefaultEcuAddress = 0x18;
    static constexpr uint8_t kDefaultTesterAddress = 0xFA;
    static constexpr size_t kWorkBufferSize = 256;

    CD5Device() = default;
    virtual ~CD5Device();
    CD5Device(const CD5Device&) = delete;
    CD5Device& operator=(const CD5Device&) = delete;

    // Writes the bytes unchanged; true when all were written.
    virtual bool WriteRaw(const uint8_t* data, uint32_t count);
    // Waits for one frame the controller sends by itself; bytes stored, 0 when none came.
    virtual int32_t ReceiveFrame(uint8_t* buffer, uint32_t capacity);
    virtual std::string GetDeviceInfo();
    // Identification texts and bytes of the controller; 1 when filled.
    virtual int32_t GetIdent(std::vector<std::string>* texts, std::vector<uint8_t>* bytes);
    // Writes a complete frame and reads the answer frame into the same buffer; its length.
    virtual int32_t TransferFrame(uint8_t* frame, uint32_t count, uint32_t capacity);
    virtual int32_t GetIdentBytes(std::vector<uint8_t>* bytes);
    virtual int32_t GetLastError() { return lastError_; }
    virtual int32_t GetErrorCount() { return errorCount_; }
    // Sets up the line and wakes the controller; 1 connected, 0 not.
    virtual int32_t Connect();
    virtual int32_t SetBaudRate(int32_t baud);
    // One request/response exchange: count request data bytes; the response data (and
    // what the protocol appends) go to response. Returns the response data count, 0 on
    // failure (LastError tells why).
    virtual int32_t SendCommand(const uint8_t* data, uint32_t count, uint8_t* response,
                                uint32_t capacity);
    // One command frame with count data bytes and its answer; nonzero on success.
    virtual int32_t Transact(uint8_t command, uint32_t count, const uint8_t* data);
    // Reads one more response without sending; its data count, 0 when none came.
    virtual int32_t ReceiveResponse(uint8_t* buffer, uint32_t capacity);
    // Opens COM port number port; returns LastError (0 opened).
    virtual int32_t Open(int32_t port, int32_t reserved, int32_t baud, int32_t timeoutMs,
                         int32_t isSkyLink);
    // A text naming the adapter on port for the user.
    virtual std::string DescribePort(int32_t port, int32_t baud, int32_t isSkyLink);
    // Closes the port; 0.
    virtual int32_t Close();
    // Wakes the controller; 1 awake, 0 not.
    virtual int32_t WakeUp();
    virtual void StopCommunication();
    virtual int32_t EnterFlashMode(const std::string& hardwareType);
    // Least time (ms) between the end of an answer and the next request; lines without such
    // a rule ignore it.
    virtual void SetInterRequestTime(uint32_t /*ms*/) {}

    // Tester (source) and ECU (target) address are set together.
    void SetAddresses(uint8_t testerAddress, uint8_t ecuAddress);
    uint8_t EcuAddress() const { return ecuAddress_; }
    uint8_t TesterAddress() const { return testerAddress_; }
    // 1: the line does not echo what is sent (SkyLink, the default); 0: wired K-line.
    void SetNoEcho(int32_t noEcho) { noEcho_ = noEcho; }
    int32_t NoEcho() const { return noEcho_; }
    bool IsPortOpen() const { return portOpen_ != 0; }

  protected:
    // Restores both default addresses when either is 0.
    void RestoreDefaultAddresses();

    // Work buffers of the line protocols that build and parse frames in place.
    std::array<uint8_t, kWorkBufferSize> receiveBuffer_{};
    std::array<uint8_t, kWorkBufferSize> sendBuffer_{};
    int32_t noEcho_ = 1;
    uint8_t ecuAddress_ = kDefaultEcuAddress;
    uint8_t testerAddress_ = kDefaultTesterAddress;
    int32_t portOpen_ = 0;
    int32_t lastError_ = kOk;
    int32_t errorCount_ = 0;
    std::unique_ptr<CV24Comm> port_;
};

}  // namespace diagbridge
