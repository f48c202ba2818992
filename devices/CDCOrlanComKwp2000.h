#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/CD5Device.h"
#include "devices/CDeviceContainer.h"
#include "platform/Clock.h"

namespace diagbridge {

// A serial K-line adapter, wired (RS232) or wireless (SkyLink), through a CT60 device.
// Requests and responses are hex byte strings. The settings are read when the device is
// created: port RS232 or SKYLINK by isSkyLink, init word SKYLINKINIT (skyLinkBaudrate), line
// speed BAUDRATE (rs232Baudrate), time-out TIMEOUT_RS232 or TIMEOUT_SKYLINK; the addresses come
// from the KWP2000 part of the configuration.
//
// Waiting answers: a response 7F xx 78 (response pending) is followed by further reads, each
// pending answer waiting at most kPendingWaitMs for the next frame and the whole exchange at
// most kPendingTotalMs; a 7F xx 21 (busy, repeat request) is repeated kMaxBusyRepeats times at
// most, and the last busy answer is then handed up as it is.
class CDCOrlanComKwp2000 : public CDeviceContainer {
  public:
    using DeviceFactory = std::function<std::unique_ptr<CD5Device>()>;

    static constexpr uint32_t kPendingPauseMs = 500;
    static constexpr uint32_t kPendingWaitMs = 5000;    // P2* per pending answer
    static constexpr uint32_t kPendingTotalMs = 60000;  // all pending answers of one request
    static constexpr uint32_t kBusyPauseMs = 500;
    static constexpr int32_t kMaxBusyRepeats = 20;
    static constexpr int32_t kDefaultTimeoutMs = 1000;
    static constexpr std::size_t kResponseCapacity = 300;
    static constexpr uint32_t kMaxRequestBytes = 255;

    // cancel (may be null) ends the waits of a running exchange at once.
    CDCOrlanComKwp2000(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
                       platform::CancelFlag* cancel = nullptr);
    // As above with another device than CT60 (tests).
    CDCOrlanComKwp2000(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
                       platform::CancelFlag* cancel, DeviceFactory makeDevice);
    ~CDCOrlanComKwp2000() override;

    // Creates the device, closed, with the configured addresses; true.
    bool Create() override;
    // Opens the port: 0 (description set), else the device status (1 not opened, 2 fault).
    int32_t DevOpen() override;
    int32_t DevClose() override;
    int32_t DevSetBaudRate(int32_t baud) override;
    // Puts the timing in force on the line: p3min (ms) between an answer and the next
    // request, the standard 55 ms when p3min <= 0. The other values need nothing here. 0.
    int32_t DevUseTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override;
    int32_t DevSetTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override;
    // 0 already connected, 1 woke the ECU now, -1 no answer. A port that fails to wake the ECU
    // is opened afresh before the second attempt, so a replugged adapter works again. A new
    // wake-up puts the configured (model) timing in force again.
    int32_t DevConnect() override;
    // Sends 82 (StopCommunication), answer ignored; 0.
    int32_t DevDisconnect() override;
    // Response byte count (>= 0) with response filled; -1 no (complete) answer, -3 a request
    // that is no hex byte string of 1..255 bytes (nothing sent). Without a device 0 and an
    // empty response.
    int32_t DevTransferData(std::string request, std::string& response) override;
    int32_t DevSetAddress(uint8_t tester, uint8_t ecu) override;
    // 0 when 3E was answered with 7E, else -1.
    int32_t DevTesterPresent() override;
    std::string DevDescribe(std::string& out, int32_t port, int32_t baud, int32_t skyLink) override;

    int32_t Connected() const { return connected_; }
    // Length of the last response, -1 when there is none.
    int32_t LastResponseLength() const { return lastLength_; }

  private:
    int32_t Port() const;
    int32_t TimeoutMs() const;
    int32_t OpenDevice();
    int32_t Fail();
    // Reads on after pending answers; the final count, 0 when the wait ran out.
    int32_t AwaitPending(int32_t count);
    int32_t RepeatWhileBusy(const uint8_t* request, uint32_t length, int32_t count);
    bool IsNegative(int32_t count, uint8_t code) const;
    bool Pause(uint32_t ms);

    platform::CancelFlag* cancel_;
    DeviceFactory makeDevice_;
    std::unique_ptr<CD5Device> device_;
    int32_t connected_ = 0;
    std::array<uint8_t, kResponseCapacity> buffer_{};
    std::array<uint8_t, kResponseCapacity> lastResponse_{};
    int32_t lastLength_ = -1;
};

}  // namespace diagbridge
