#pragma once
// A KWP2000 communication object on scripted containers, and a small KWP2000 model, so the
// service sequences can be checked request by request without a K-line.
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "devices/CDeviceContainer.h"
#include "ecu/CEcuKwp2000.h"
#include "kwp2000/CSKwp2000.h"
#include "platform/Clock.h"
#include "support/EventRecorder.h"

namespace diagbridge::testing {

// One request as the scripted line saw it: container slot, tester, ECU, request text.
struct SentRequest {
    int32_t slot;
    uint8_t tester;
    uint8_t ecu;
    std::string request;
};

// The requests of all scripted containers; the worker's keep-alive passes add to it too.
class SentLog {
  public:
    void Add(SentRequest request) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(request));
    }
    std::vector<SentRequest> Items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        items_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<SentRequest> items_;
};

// Answers each request with what respond returns; "FAIL" makes the exchange fail (the port
// went away). The ECU wakes only under the address pairs in answering.
class ScriptedKwpContainer : public CDeviceContainer {
  public:
    using Responder = std::function<std::string(const std::string& request)>;
    ScriptedKwpContainer(int32_t slot, SentLog& sent, Responder respond,
                         std::set<std::pair<uint8_t, uint8_t>> answering)
        : CDeviceContainer(EcuParameterBlock{}, InterfaceSettings{}),
          slot_(slot),
          sent_(sent),
          respond_(std::move(respond)),
          answering_(std::move(answering)) {
        description = "SCRIPTED " + std::to_string(slot);
    }
    int32_t DevSetAddress(uint8_t tester, uint8_t ecu) override {
        tester_ = tester;
        ecu_ = ecu;
        return 0;
    }
    int32_t DevConnect() override {
        ++connects;
        if (connected_) return 0;
        if (answering_.count({tester_, ecu_}) == 0) return -1;
        connected_ = true;
        return 1;
    }
    int32_t DevDisconnect() override {
        connected_ = false;
        return 0;
    }
    int32_t DevTransferData(std::string request, std::string& response) override {
        sent_.Add({slot_, tester_, ecu_, request});
        const std::string answer = respond_(request);
        if (answer == "FAIL") {
            connected_ = false;
            return -1;
        }
        response = answer;
        return static_cast<int32_t>((answer.size() + 1) / 3);
    }
    int32_t DevTesterPresent() override {
        std::string response;
        DevTransferData("3E", response);
        return response == "7E" ? 0 : -1;
    }
    std::string DevDescribe(std::string& out, int32_t, int32_t, int32_t) override {
        out = description;
        return out;
    }
    int32_t DevSetBaudRate(int32_t baud) override {
        baudrates.push_back(baud);
        return 0;
    }

    // The P3min (ms) of every timing put in force, at a wake-up or inside the session.
    int32_t DevSetTiming(int32_t, int32_t, int32_t p3min, int32_t, int32_t) override {
        p3Mins.push_back(p3min);
        return 0;
    }
    int32_t DevUseTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override {
        return DevSetTiming(p2min, p2max, p3min, p3max, p4min);
    }

    int32_t connects = 0;
    std::vector<int32_t> baudrates;
    std::vector<int32_t> p3Mins;

  private:
    int32_t slot_;
    SentLog& sent_;
    Responder respond_;
    std::set<std::pair<uint8_t, uint8_t>> answering_;
    uint8_t tester_ = 0;
    uint8_t ecu_ = 0;
    bool connected_ = false;
};

// The positive answer of a KWP2000 ECU that accepts everything: service id + 0x40 and the
// request's next byte.
inline std::string KwpPositiveEcho(const std::string& request) {
    if (request.size() < 2) return "7F 00 13";
    const int service = std::stoi(request.substr(0, 2), nullptr, 16);
    char head[4];
    std::snprintf(head, sizeof(head), "%02X", (service + 0x40) & 0xFF);
    return std::string(head) + request.substr(2, 3);
}

// KwpPositiveEcho, and the T60 hardware version "T60" for 1A 93.
inline std::string KwpT60Answer(const std::string& request) {
    if (request == "1A 93") return "5A 93 54 36 30";
    return KwpPositiveEcho(request);
}

// A T60-like model: object type "T60", access 27 FD / 27 FE with key = seed XOR 0x3412, and
// an upload text that lists what the upload collected.
class TestKwpEcu : public CEcuKwp2000 {
  public:
    static constexpr Layout kLayout = {"[FRAM]", "[IdentMem]", "[EventMem]", "[SID]", "",
                                       false,    false,        0x18,         0xFA};

    explicit TestKwpEcu(CSoftwareInterface* communicationObject)
        : CEcuKwp2000(communicationObject, "T60", "T60", kLayout) {
        SetPermissions(true, true, true, true);
        exactObjectType_ = true;
        KwpParameterBlock& kwp = parameters_.kwp;
        FillAddressTable(0xFA, 0x18, 1);
        kwp.oemTesterAddress.fill(0xFA);
        kwp.oemTesterAddress[1] = 0xF0;
        kwp.p2Min = 5;
        kwp.p2Max = 50;
        kwp.p3Min = 0;
        kwp.p3Max = 5000;
        kwp.p4Min = 0;
        kwp.dsDownloadArea = {0x405E00, 0xFF, 0xFFFFFF};
        kwp.framAvailable = true;
        kwp.memoryMapIdentifier = 0x02;
        kwp.uploadPiece = 640;
        kwp.dtcStatusText = "00";
        kwp.timeouts.singleRequest = 60000;
        kwp.timeouts.upload = 60000;
        kwp.timeouts.download = 60000;
    }
    std::string SeedRequestFor(int32_t /*oemId*/, int32_t /*mode*/) override { return seedRequest; }
    std::string KeyRequestFor(int32_t /*oemId*/, int32_t /*mode*/, int32_t seed) override {
        const int key = (seed ^ 0x3412) & 0xFFFF;
        char text[16];
        std::snprintf(text, sizeof(text), "27 FE %02X %02X", key >> 8, key & 0xFF);
        return text;
    }
    std::string BuildUploadText() override {
        const KwpUploadValues& upload = upload_;
        std::string text = "[Date]" + upload.date + "|[FRAM]|";
        for (const KwpMemoryPiece& piece : upload.memory) {
            text += std::to_string(piece.address) + ":" + std::to_string(piece.data.size()) + "|";
        }
        text += "[IdentMem]|";
        for (const KwpIdentValue& ident : upload.ident) {
            char head[32];
            std::snprintf(head, sizeof(head), "%sIdent%02X=", ident.valid ? "" : "INVALID_",
                          ident.option);
            text += head + ident.value + "|";
        }
        text += "[EventMem]|" + upload.eventListText + "|";
        for (const ShortByteBuffer& event : upload.events) {
            text += std::to_string(event.length) + " bytes|";
        }
        text += "[SID]|";
        for (const std::string& line : upload.sidLines) text += line;
        return text;
    }
    // Reads its identification by local identifier, as the models with a table do.
    void UseIdentNames(std::vector<KwpIdentName> names) { identNames_ = std::move(names); }

    std::string seedRequest = "27 FD";
};

struct KwpFixtureOptions {
    ScriptedKwpContainer::Responder respond = KwpT60Answer;
    std::string parameter = "KWP2000|RS232=1|PROGRESS=1|TRACE=1|STATUS=1";
    // Answering pairs (tester, ECU) per slot 0 Samtec, 1 RS232, 2 SkyLink; a slot that
    // is not listed gets no container.
    std::vector<std::pair<int32_t, std::set<std::pair<uint8_t, uint8_t>>>> slots = {
        {1, {{0xFA, 0x18}}}};
};

// One KWP2000 object whose containers are scripted, with a connected-ready test model.
class KwpStackFixture {
  public:
    using Responder = ScriptedKwpContainer::Responder;
    using Options = KwpFixtureOptions;

    explicit KwpStackFixture(Options options = {})
        : scoped_(clock), object_(&events, options.parameter) {
        object_.UseContainers([this, options](
                                  int32_t slot, const EcuParameterBlock&,
                                  const InterfaceSettings&) -> std::unique_ptr<CDeviceContainer> {
            for (const auto& [wanted, answering] : options.slots) {
                if (wanted != slot) continue;
                auto container =
                    std::make_unique<ScriptedKwpContainer>(slot, sent, options.respond, answering);
                containers.push_back(container.get());
                return container;
            }
            return nullptr;
        });
        object_.UseDateSource([this] { return today; });
        ecu = std::make_unique<TestKwpEcu>(&object_);
    }
    // The ECU object detaches from the communication object: it must go first.
    ~KwpStackFixture() {
        object_.StopWorker();
        ecu.reset();
    }

    int32_t Run(int32_t command, const std::function<void(ServiceOrder&)>& fill = {}) {
        ServiceOrder order;
        order.command = command;
        if (fill) fill(order);
        return command == kCommandConnect ? object_.ExecuteService(order, ecu.get())
                                          : ecu->RunService(order);
    }
    int32_t CreateAndConnect() {
        if (Run(kCommandCreateHWObject) != 0) return -999;
        return Run(kCommandConnect);
    }
    // Request texts since the last ClearSent.
    std::vector<std::string> Requests() const {
        std::vector<std::string> texts;
        for (const SentRequest& s : sent.Items()) texts.push_back(s.request);
        return texts;
    }
    void ClearSent() { sent.Clear(); }
    std::vector<std::string> ProgressTexts() {
        std::vector<std::string> texts;
        for (const auto& e : events.OfKind("progress")) texts.push_back(e.text);
        return texts;
    }
    bool HasProgress(const std::string& text) {
        for (const std::string& t : ProgressTexts()) {
            if (t == text) return true;
        }
        return false;
    }
    CSKwp2000& Object() { return object_; }

    platform::ManualClock clock;
    SentLog sent;
    std::vector<ScriptedKwpContainer*> containers;
    EventRecorder events;
    std::string today = "2024-03-07";
    std::unique_ptr<TestKwpEcu> ecu;

  private:
    platform::ScopedClock scoped_;
    CSKwp2000 object_;
};

}  // namespace diagbridge::testing
