#pragma once
// A T40 or Kalidor session as a client runs it: the command interface with the component's
// stacks and models, the virtual controller on a pseudo-terminal in this process, and the
// scaled clock.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ScaledClock.h"
#include "component/CCommandInterface.h"
#include "devices/ScopedComPort.h"
#include "support/EventRecorder.h"

namespace diagbridge::testing {

class SerialSession {
  public:
    SerialSession() : scoped_(clock) {}
    ~SerialSession() { Close(); }

    // Creates the communication object on COM port number port (pointed at devicePath) and
    // the ECU object; false when either is refused.
    bool Open(uint8_t port, const std::string& devicePath, const std::string& communication,
              const std::string& ecuParameter) {
        port_.emplace(port, devicePath);
        cookie_ = component.Advise(&events);
        EXPECT_EQ(component.DbrCreateCommunicationObject(communication, &communicationId), 0);
        if (communicationId < 0) return false;
        EXPECT_EQ(component.DbrCreateEcuObject(ecuParameter, communicationId, &ecuId), 0);
        return ecuId >= CCommandInterface::kEcuIdBase;
    }
    void Close() {
        int32_t result = 0;
        if (ecuId >= 0) component.DbrDeleteEcuObject(ecuId, &result);
        if (communicationId >= 0) component.DbrDeleteCommunicationObject(communicationId, &result);
        ecuId = communicationId = -1;
        if (cookie_ != 0) component.Unadvise(cookie_);
        cookie_ = 0;
    }

    int32_t Connect() { return Call(&CCommandInterface::DbrConnect); }
    int32_t Disconnect() { return Call(&CCommandInterface::DbrDisconnect); }
    std::string Request(const std::string& request, int32_t& result) {
        std::string response;
        EXPECT_EQ(component.DbrSingleRequest(ecuId, request, &response, &result), 0);
        return response;
    }
    std::string Upload(int32_t& result) {
        std::string text;
        EXPECT_EQ(component.DbrUpload(ecuId, "", &text, &result), 0);
        return text;
    }
    std::string Ident(int32_t& result) {
        std::string text;
        EXPECT_EQ(component.DbrGetIdent(ecuId, &text, &result), 0);
        return text;
    }
    int32_t Download(int32_t type, const std::string& hexText) {
        int32_t result = 1;
        EXPECT_EQ(component.DbrDownload(ecuId, type, hexText, &result), 0);
        return result;
    }
    bool HasProgress(const std::string& text) {
        for (const RecordedEvent& e : events.OfKind("progress")) {
            if (e.text == text) return true;
        }
        return false;
    }

    ScaledClock clock;
    EventRecorder events;
    CCommandInterface component;
    int32_t communicationId = -1;
    int32_t ecuId = -1;

  private:
    int32_t Call(int32_t (CCommandInterface::*method)(int32_t, int32_t*)) {
        int32_t result = 1;
        EXPECT_EQ((component.*method)(ecuId, &result), 0);
        return result;
    }

    platform::ScopedClock scoped_;
    std::optional<testfakes::ScopedComPort> port_;
    uint32_t cookie_ = 0;
};

}  // namespace diagbridge::testing
