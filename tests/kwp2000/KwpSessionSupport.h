#pragma once
// A KWP2000 session as a client runs it: the command interface with the component's own
// stack and models, the virtual controller on a pseudo-terminal in this process, and the
// manual clock for the protocol's pauses (the line itself keeps real time).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "devices/ScopedComPort.h"
#include "platform/Clock.h"
#include "sim/kline/KlineDemoEcu.h"
#include "support/EventRecorder.h"

namespace diagbridge::testing {

using Bytes = std::vector<uint8_t>;

struct KwpSessionOptions {
    bool wired = true;
    std::string ecuParameter = "T60";
    sim::KwpResponderOptions responder;
    uint32_t minRequestGapMs = 0;  // P3min the controller insists on
};

class KwpSession {
  public:
    static constexpr uint8_t kPort = 7;
    // Short P2 so that uploads of thousands of bytes take little wall time.
    static constexpr uint32_t kResponseDelayMs = 2;

    // On the manual clock, unless the controller insists on P3min: the tester's pauses must
    // then take real time.
    explicit KwpSession(const KwpSessionOptions& options = {}) {
        if (options.minRequestGapMs == 0) scoped_.emplace(clock);
        sim::KlineDemoOptions demo;
        demo.wired = options.wired;
        demo.responseDelayMs = kResponseDelayMs;
        demo.responder = options.responder;
        demo.minRequestGapMs = options.minRequestGapMs;
        ecu = sim::KlineDemoEcu::Start(demo);
        if (!ecu) {
            ADD_FAILURE() << "no pseudo-terminal for the virtual controller";
            return;
        }
        // The port must be known before the communication object opens it.
        port_.emplace(kPort, ecu->DevicePath());
        cookie_ = component.Advise(&events);
        const std::string adapter = options.wired ? "RS232=" : "SKYLINK=";
        EXPECT_EQ(component.DbrCreateCommunicationObject(
                      "KWP2000|" + adapter + std::to_string(kPort) + "|PROGRESS=1|STATUS=1|TRACE=1",
                      &communicationId),
                  0);
        EXPECT_GE(communicationId, 0);
        EXPECT_EQ(component.DbrCreateEcuObject(options.ecuParameter, communicationId, &ecuId), 0);
        EXPECT_GE(ecuId, CCommandInterface::kEcuIdBase);
    }
    ~KwpSession() {
        int32_t result = 0;
        component.DbrDeleteEcuObject(ecuId, &result);
        component.DbrDeleteCommunicationObject(communicationId, &result);
        component.Unadvise(cookie_);
        if (ecu) ecu->Stop();
    }

    int32_t Connect() {
        int32_t result = 1;
        EXPECT_EQ(component.DbrConnect(ecuId, &result), 0);
        return result;
    }
    int32_t Access(int32_t oem, int32_t mode, int32_t baud, bool specialTiming) {
        int32_t result = 1;
        EXPECT_EQ(component.DbrSetDiagnosticAccess(ecuId, oem, mode, baud, specialTiming ? -1 : 0,
                                                   &result),
                  0);
        return result;
    }
    // The response text; result receives the service result.
    std::string Request(const std::string& request, int32_t& result) {
        std::string response;
        EXPECT_EQ(component.DbrSingleRequest(ecuId, request, &response, &result), 0);
        return response;
    }
    int32_t Download(int32_t type, const std::string& hexData) {
        int32_t result = 1;
        EXPECT_EQ(component.DbrDownload(ecuId, type, hexData, &result), 0);
        return result;
    }
    bool HasProgress(const std::string& text) {
        for (const RecordedEvent& e : events.OfKind("progress")) {
            if (e.text == text) return true;
        }
        return false;
    }
    size_t CountStatus(const std::string& text) {
        size_t count = 0;
        for (const RecordedEvent& e : events.OfKind("status")) count += e.text == text ? 1 : 0;
        return count;
    }

    platform::ManualClock clock;
    EventRecorder events;
    std::unique_ptr<sim::KlineDemoEcu> ecu;
    CCommandInterface component;
    int32_t communicationId = -1;
    int32_t ecuId = -1;

  private:
    std::optional<platform::ScopedClock> scoped_;
    std::optional<testfakes::ScopedComPort> port_;
    uint32_t cookie_ = 0;
};

// "5A 93 54" from bytes.
inline std::string HexText(const Bytes& bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

inline Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The bytes that the data records of "|"-separated Intel-HEX lines put at each address
// (extended linear address records honoured); nullopt for a line that is not a well-formed
// record with the right checksum.
inline std::optional<std::map<uint32_t, uint8_t>> ParseHexLines(const std::string& text) {
    std::map<uint32_t, uint8_t> image;
    uint32_t upper = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t bar = text.find('|', pos);
        if (bar == std::string::npos) bar = text.size();
        const std::string line = text.substr(pos, bar - pos);
        pos = bar + 1;
        if (line.empty() || line[0] != ':') continue;
        if (line.size() < 11 || line.size() % 2 == 0) return std::nullopt;
        Bytes record;
        for (size_t i = 1; i + 1 < line.size(); i += 2) {
            record.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        }
        uint8_t sum = 0;
        for (uint8_t b : record) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0 || record[0] + 5u != record.size()) return std::nullopt;
        const uint32_t offset = (record[1] << 8) | record[2];
        if (record[3] == 0x04) upper = (record[4] << 8) | record[5];
        if (record[3] != 0x00) continue;
        for (size_t i = 0; i < record[0]; ++i) image[(upper << 16) + offset + i] = record[4 + i];
    }
    return image;
}

// The part of text between "heading|" and the next "[" heading (or the end).
inline std::string Section(const std::string& text, const std::string& heading) {
    const size_t start = text.find(heading + "|");
    if (start == std::string::npos) return {};
    const size_t from = start + heading.size() + 1;
    const size_t next = text.find("|[", from);
    return text.substr(from, next == std::string::npos ? std::string::npos : next + 1 - from);
}

}  // namespace diagbridge::testing
