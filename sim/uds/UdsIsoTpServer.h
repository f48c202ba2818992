#pragma once
#include <cstddef>
#include <cstdint>

#include "drivers/xl/CanFrame.h"
#include "sim/uds/UdsEcuLink.h"
#include "sim/uds/UdsEcuProfile.h"
#include "sim/uds/UdsFaultPlan.h"

namespace diagbridge::sim {

// The ECU side of ISO 15765-2 with normal fixed 29-bit addressing: requests come on
// 0x18DA<ecu><tester> (single or segmented) and 0x18DBFF<tester> (single frames only),
// responses go on 0x18DA<tester><ecu>. The receiver's flow controls carry the configured block
// size and separation time; the sender obeys the tester's. One thread drives it.
class UdsIsoTpServer {
  public:
    static constexpr size_t kMaxMessage = 4095;
    static constexpr uint32_t kFrameTimeoutMs = 1000;  // N_Bs and N_Cr
    static constexpr uint32_t kMaxFlowControlWaits = 255;
    static constexpr uint8_t kPadding = 0xAA;

    struct Request {
        uint8_t data[kMaxMessage] = {};
        size_t length = 0;
        bool functional = false;
    };

    // Results of Send.
    enum class SendResult { kSent, kNoFlowControl, kOverflow, kRefused, kInterrupted };

    UdsIsoTpServer(UdsEcuLink& link, uint8_t ecuAddress, uint8_t testerAddress);

    void SetFlow(const UdsFlowSettings& flow) { flow_ = flow; }
    void SetFaults(const UdsTransportFaults& faults) { faults_ = faults; }

    // Waits up to waitMs for the start of a request and takes it whole; true with request
    // filled. A broken segmented request (sequence error, missing frame) is dropped.
    bool ReceiveRequest(Request& request, uint32_t waitMs);
    // Sends one response of 1..4095 bytes.
    SendResult Send(const uint8_t* payload, size_t length);

    uint32_t RequestId() const { return requestId_; }
    uint32_t ResponseId() const { return responseId_; }
    uint32_t FunctionalId() const { return functionalId_; }

  private:
    bool NextFrame(xl::CanFrame& frame, uint32_t waitMs);
    bool OnFirstFrame(const xl::CanFrame& first, Request& request);
    bool ReceiveConsecutive(Request& request, size_t total);
    bool SendFlowControl(uint8_t status);
    bool SendFrame(const uint8_t (&data)[xl::kMaxDataLength]);
    SendResult AwaitClearToSend(uint8_t& blockSize, uint8_t& separation);
    SendResult SendConsecutive(const uint8_t* payload, size_t length);
    void Separate(uint8_t separation);
    bool IsRequestStart(const xl::CanFrame& frame) const;

    UdsEcuLink& link_;
    const uint32_t requestId_;
    const uint32_t responseId_;
    const uint32_t functionalId_;
    UdsFlowSettings flow_;
    UdsTransportFaults faults_;
    // A request frame that arrived while a response was going out; taken first next time.
    xl::CanFrame held_{};
    bool holding_ = false;
};

}  // namespace diagbridge::sim
