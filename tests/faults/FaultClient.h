#pragma once
// The client side of the campaign: the command interface with one communication object and
// one ECU object, each call timed on the wall clock (the ECU runs in another process, so its
// time is real time).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "support/EventRecorder.h"

namespace diagbridge::testing {

// The bytes of a test download; neighbours differ, so a byte out of place shows.
inline std::vector<uint8_t> TestImage(size_t bytes) {
    std::vector<uint8_t> image(bytes);
    for (size_t i = 0; i < bytes; ++i) image[i] = static_cast<uint8_t>(i * 13 + 5);
    return image;
}

// What the client saw of one call.
struct Outcome {
    int32_t result = 1;
    std::string text;  // the out text (response, ident); untouched calls leave it empty
    std::chrono::milliseconds took{0};
};

class FaultClient {
  public:
    FaultClient(const std::string& communication, const std::string& ecu) {
        cookie_ = component.Advise(&events);
        EXPECT_EQ(component.DbrCreateCommunicationObject(communication, &communicationId), 0);
        EXPECT_GE(communicationId, 0) << communication;
        EXPECT_EQ(component.DbrCreateEcuObject(ecu, communicationId, &ecuId), 0);
        EXPECT_GE(ecuId, CCommandInterface::kEcuIdBase) << ecu;
    }
    ~FaultClient() {
        int32_t result = 0;
        component.DbrDeleteEcuObject(ecuId, &result);
        component.DbrDeleteCommunicationObject(communicationId, &result);
        component.Unadvise(cookie_);
    }
    FaultClient(const FaultClient&) = delete;
    FaultClient& operator=(const FaultClient&) = delete;

    Outcome Connect() {
        return Timed([&](Outcome& o) { return component.DbrConnect(ecuId, &o.result); });
    }
    Outcome Access(int32_t session) {
        return Timed([&](Outcome& o) {
            return component.DbrSetPredefinedDiagnosticAccess(ecuId, session, &o.result);
        });
    }
    Outcome Access(int32_t oem, int32_t mode, int32_t baud, bool specialTiming) {
        return Timed([&](Outcome& o) {
            return component.DbrSetDiagnosticAccess(ecuId, oem, mode, baud, specialTiming ? -1 : 0,
                                                    &o.result);
        });
    }
    Outcome Request(const std::string& request) {
        return Timed([&](Outcome& o) {
            return component.DbrSingleRequest(ecuId, request, &o.text, &o.result);
        });
    }
    Outcome Ident() {
        return Timed([&](Outcome& o) { return component.DbrGetIdent(ecuId, &o.text, &o.result); });
    }
    Outcome Upload() {
        return Timed(
            [&](Outcome& o) { return component.DbrUpload(ecuId, "", &o.text, &o.result); });
    }
    Outcome Download(int32_t type, const std::string& hex) {
        return Timed(
            [&](Outcome& o) { return component.DbrDownload(ecuId, type, hex, &o.result); });
    }

    // Waits (at most 10 s between events) for a progress event whose text holds fragment:
    // the service is that far on its way.
    bool AwaitProgress(const std::string& fragment) {
        for (std::size_t seen = 1; seen < kMaxProgressEvents; ++seen) {
            if (!events.WaitFor("progress", seen)) return false;
            if (events.OfKind("progress")[seen - 1].text.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    EventRecorder events;
    CCommandInterface component;
    int32_t communicationId = -1;
    int32_t ecuId = -1;

  private:
    static constexpr std::size_t kMaxProgressEvents = 10000;

    template <typename Call>
    Outcome Timed(Call call) {
        Outcome outcome;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(call(outcome), 0);
        outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        return outcome;
    }

    uint32_t cookie_ = 0;
};

}  // namespace diagbridge::testing
