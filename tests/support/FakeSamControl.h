#pragma once
// A SamDiaX control for container tests: records every put and call by member number, answers
// transfers from a script, and raises the detection event only when told to.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/SamDiaXControl.h"

namespace diagbridge::test {

class FakeSamControl final : public samdiax::ISamControl,
                             public std::enable_shared_from_this<FakeSamControl> {
  public:
    struct Object final : samdiax::ISamObject {
        FakeSamControl* owner = nullptr;
        std::string name;
        samdiax::SamValue Get(int32_t m, const std::vector<samdiax::SamValue>& args) override {
            return owner->ObjectGet(name, m, args);
        }
        bool Put(int32_t m, const samdiax::SamValue& value,
                 const std::vector<samdiax::SamValue>& args) override {
            owner->log.push_back(name + "." + std::to_string(m) + Index(args) + "=" + Text(value));
            if (name.rfind("P.Item(", 0) == 0)
                owner->parameters[name.substr(7, name.size() - 8)] = Text(value);
            return true;
        }
        samdiax::SamValue Call(int32_t m, const std::vector<samdiax::SamValue>&) override {
            owner->log.push_back(name + "." + std::to_string(m) + "()");
            return owner->ObjectCall(name, m);
        }
    };

    static std::string Text(const samdiax::SamValue& value) {
        if (const auto* text = std::get_if<std::string>(&value)) return "\"" + *text + "\"";
        if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
        if (const auto* number = std::get_if<int32_t>(&value)) return std::to_string(*number);
        return "?";
    }
    static std::string Index(const std::vector<samdiax::SamValue>& args) {
        return args.empty() ? "" : "(" + std::to_string(samdiax::AsInt(args[0])) + ")";
    }

    samdiax::SamValue Get(int32_t m, const std::vector<samdiax::SamValue>&) override {
        switch (m) {
            case samdiax::member::kFirmware:
                return firmware;
            case samdiax::member::kResponse:
                return response;
            case samdiax::member::kErrorNumber:
                return 4;
            case samdiax::member::kErrorType:
                return 1;
            case samdiax::member::kErrorMessage:
                return errorMessage;
            case samdiax::member::kResponseTimeout:
                return responseTimeout;
            case samdiax::member::kParameters:
                return MakeObject("P");
            case samdiax::member::kDetection:
                return MakeObject("A");
            case samdiax::member::kAdapters:
                return MakeObject("B");
            default:
                return {};
        }
    }
    bool Put(int32_t m, const samdiax::SamValue& value,
             const std::vector<samdiax::SamValue>& args) override {
        log.push_back("control." + std::to_string(m) + Index(args) + "=" + Text(value));
        if (m == samdiax::member::kRequest) requests.push_back(samdiax::AsText(value));
        if (m == samdiax::member::kResponseTimeout) responseTimeout = samdiax::AsInt(value);
        return true;
    }
    samdiax::SamValue Call(int32_t m, const std::vector<samdiax::SamValue>&) override {
        log.push_back("control." + std::to_string(m) + "()");
        if (m == samdiax::member::kTransfer) {
            timeoutsAtTransfer.push_back(responseTimeout);
            return transferResult;
        }
        if (m == samdiax::member::kStartCommunication) return startResult;
        if (m == samdiax::member::kRunning) return running;
        return 0;
    }
    void SetEventSink(EventSink sink) override { sink_ = std::move(sink); }

    // Member log entries that start with prefix, in order.
    std::vector<std::string> Log(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& entry : log) {
            if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
        }
        return found;
    }

    std::vector<std::string> log;
    std::vector<std::string> requests;
    std::vector<int32_t> timeoutsAtTransfer;
    std::map<std::string, std::string> parameters;  // by id, as written ("\"44\"")
    std::string firmware = "FW 1.0";
    std::string adapterFirmware = "FW 1.0";
    std::string response;
    std::string errorMessage = "No response from the ECU";
    int32_t transferResult = 0;
    int32_t startResult = 1;
    int32_t running = 0;
    int32_t responseTimeout = 2000;
    int32_t adapters = 1;
    bool raisesDetectionEvent = true;
    bool configurationLoads = true;

  private:
    samdiax::SamValue MakeObject(const std::string& name) {
        auto object = std::make_shared<Object>();
        object->owner = this;
        object->name = name;
        return std::shared_ptr<samdiax::ISamObject>(object);
    }
    samdiax::SamValue ObjectGet(const std::string& name, int32_t m,
                                const std::vector<samdiax::SamValue>& args) {
        if (name == "P" && m == samdiax::member::kItem) return MakeObject("P.Item" + Index(args));
        if (name == "A" && m == samdiax::member::kFound) return MakeObject("A.3");
        if (name == "A.3" && m == samdiax::member::kFoundCount) return adapters;
        if (name == "B" && m == samdiax::member::kItem) return MakeObject("B.Item" + Index(args));
        if (name.rfind("B.Item", 0) == 0 && m == samdiax::member::kAdapterFirmware) {
            return adapterFirmware;
        }
        return {};
    }
    samdiax::SamValue ObjectCall(const std::string& name, int32_t m) {
        if (name == "A" && m == samdiax::member::kStartDetection && raisesDetectionEvent && sink_) {
            sink_(samdiax::kDetectionFinishedEvent, adapters);
        }
        if (name == "A" && m == samdiax::member::kAdapterFound) return adapters > 0;
        if (name == "P" && m == samdiax::member::kLoadConfiguration) return configurationLoads;
        return 0;
    }

    EventSink sink_;
};

}  // namespace diagbridge::test
