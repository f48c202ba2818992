#include "drivers/samtec/SamDiaXSubstitute.h"

#include <cstdlib>
#include <fstream>

#include "drivers/samtec/SamKalidorLine.h"
#include "drivers/samtec/SamKlineLine.h"
#include "drivers/xl/XlSource.h"
#include "engine/CConvert.h"

namespace diagbridge::samtec {

using samdiax::AsBool;
using samdiax::AsInt;
using samdiax::AsText;
using samdiax::SamValue;
namespace member = samdiax::member;

namespace {

// Adapter parameters of the CAN side (decimal text).
constexpr int32_t kBitRate = 10000;
constexpr int32_t kKeepAliveMode = 10004;
constexpr int32_t kKeepAliveMessage = 10006;
constexpr int32_t kRequestId = 10205;
constexpr int32_t kAddressMode = 10206;  // 0 physical, 1 functional
constexpr int32_t kResponseId = 10207;
constexpr int32_t kFunctionalId = 10505;
constexpr int32_t kKeepAliveFunctional = 10506;
constexpr int32_t kUseFill = 60206;
constexpr int32_t kFill = 60236;

constexpr int32_t kStarted = 1;
constexpr int32_t kNotStartedResult = 0;

std::string Environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0' ? fallback : value;
}

std::vector<uint8_t> BytesOf(const std::string& text) {
    uint8_t bytes[8];
    std::size_t stored = 0;
    if (HexStringToBytes(text, bytes, sizeof(bytes), stored) <= 0) return {};
    return {bytes, bytes + stored};
}

// An item of the parameter object: its member 11 is the parameter's value.
class ParameterItem final : public samdiax::ISamObject {
  public:
    ParameterItem(std::weak_ptr<SamDiaXSubstitute> owner, int32_t id)
        : owner_(std::move(owner)), id_(id) {}
    SamValue Get(int32_t m, const std::vector<SamValue>&) override {
        auto owner = owner_.lock();
        if (!owner || m != member::kValue) return {};
        return owner->Parameter(id_);
    }
    bool Put(int32_t m, const SamValue& value, const std::vector<SamValue>&) override {
        auto owner = owner_.lock();
        if (!owner || m != member::kValue || !std::holds_alternative<std::string>(value)) {
            return false;
        }
        owner->SetParameter(id_, AsText(value));
        return true;
    }
    SamValue Call(int32_t, const std::vector<SamValue>&) override { return {}; }

  private:
    std::weak_ptr<SamDiaXSubstitute> owner_;
    int32_t id_;
};

// The parameter object P: Item(id), the configuration file path and its loading.
class ParametersObject final : public samdiax::ISamObject {
  public:
    explicit ParametersObject(std::weak_ptr<SamDiaXSubstitute> owner) : owner_(std::move(owner)) {}
    SamValue Get(int32_t m, const std::vector<SamValue>& args) override {
        if (m != member::kItem || args.size() != 1) return {};
        return std::shared_ptr<samdiax::ISamObject>(
            std::make_shared<ParameterItem>(owner_, AsInt(args[0])));
    }
    bool Put(int32_t m, const SamValue& value, const std::vector<SamValue>&) override {
        auto owner = owner_.lock();
        if (!owner) return false;
        if (m == member::kConfigurationPath) {
            owner->SetConfigurationPath(AsText(value));
            return true;
        }
        return m == member::kParametersOption13;
    }
    SamValue Call(int32_t m, const std::vector<SamValue>&) override {
        auto owner = owner_.lock();
        if (!owner || m != member::kLoadConfiguration) return {};
        return owner->LoadConfiguration();
    }

  private:
    std::weak_ptr<SamDiaXSubstitute> owner_;
};

// A.3: what detection found; member 1 is the adapter count.
class FoundObject final : public samdiax::ISamObject {
  public:
    explicit FoundObject(std::weak_ptr<SamDiaXSubstitute> owner) : owner_(std::move(owner)) {}
    SamValue Get(int32_t m, const std::vector<SamValue>&) override {
        auto owner = owner_.lock();
        if (!owner || m != member::kFoundCount) return {};
        return owner->AdaptersFound();
    }
    bool Put(int32_t, const SamValue&, const std::vector<SamValue>&) override { return false; }
    SamValue Call(int32_t m, const std::vector<SamValue>&) override {
        return m == member::kRefresh ? SamValue(0) : SamValue();
    }

  private:
    std::weak_ptr<SamDiaXSubstitute> owner_;
};

// A: hardware detection.
class DetectionObject final : public samdiax::ISamObject {
  public:
    explicit DetectionObject(std::weak_ptr<SamDiaXSubstitute> owner)
        : owner_(owner), found_(std::make_shared<FoundObject>(owner)) {}
    SamValue Get(int32_t m, const std::vector<SamValue>&) override {
        if (m != member::kFound) return {};
        return std::shared_ptr<samdiax::ISamObject>(found_);
    }
    bool Put(int32_t m, const SamValue&, const std::vector<SamValue>&) override {
        return m == member::kDetectionOption1 || m == member::kDetectionOption2;
    }
    SamValue Call(int32_t m, const std::vector<SamValue>&) override {
        auto owner = owner_.lock();
        if (!owner) return {};
        if (m == member::kStartDetection) return owner->Detect();
        if (m == member::kAdapterFound) return owner->AdaptersFound() > 0;
        return {};
    }

  private:
    std::weak_ptr<SamDiaXSubstitute> owner_;
    std::shared_ptr<FoundObject> found_;
};

// An adapter of B: member 14 is its firmware.
class AdapterObject final : public samdiax::ISamObject {
  public:
    SamValue Get(int32_t m, const std::vector<SamValue>&) override {
        return m == member::kAdapterFirmware ? SamValue(std::string(kSubstituteFirmware))
                                             : SamValue();
    }
    bool Put(int32_t, const SamValue&, const std::vector<SamValue>&) override { return false; }
    SamValue Call(int32_t, const std::vector<SamValue>&) override { return {}; }
};

// B: the adapters found.
class AdaptersObject final : public samdiax::ISamObject {
  public:
    explicit AdaptersObject(std::weak_ptr<SamDiaXSubstitute> owner) : owner_(std::move(owner)) {}
    SamValue Get(int32_t m, const std::vector<SamValue>& args) override {
        auto owner = owner_.lock();
        if (!owner || m != member::kItem || args.size() != 1) return {};
        const int32_t index = AsInt(args[0]);
        if (index < 0 || index >= owner->AdaptersFound()) return {};
        return std::shared_ptr<samdiax::ISamObject>(std::make_shared<AdapterObject>());
    }
    bool Put(int32_t, const SamValue&, const std::vector<SamValue>&) override { return false; }
    SamValue Call(int32_t m, const std::vector<SamValue>&) override {
        return m == member::kRefresh ? SamValue(0) : SamValue();
    }

  private:
    std::weak_ptr<SamDiaXSubstitute> owner_;
};

}  // namespace

SamDiaXSubstitute::SamDiaXSubstitute(std::string canSelector, std::string klineDevice)
    : can_(std::move(canSelector)),
      line_(std::make_unique<SamKlineLine>(klineDevice)),
      kalidorLine_(std::make_unique<SamKalidorLine>(std::move(klineDevice))) {}

SamDiaXSubstitute::~SamDiaXSubstitute() {
    can_.Stop();
    line_->Stop();
    kalidorLine_->Stop();
}

ISamLine& SamDiaXSubstitute::Line() {
    return SamKalidorLine::Chosen(parameters_) ? *kalidorLine_ : *line_;
}

std::shared_ptr<SamDiaXSubstitute> SamDiaXSubstitute::FromEnvironment() {
    return std::make_shared<SamDiaXSubstitute>(
        Environment(kCanSourceVariable, xl::XlSourceSelector()),
        Environment(kKlineDeviceVariable, ""));
}

SamValue SamDiaXSubstitute::Get(int32_t m, const std::vector<SamValue>&) {
    std::lock_guard lock(mutex_);
    switch (m) {
        case member::kFirmware:
            return std::string(kSubstituteFirmware);
        case member::kResponse:
            return response_;
        case member::kErrorNumber:
            return error_.number;
        case member::kErrorType:
            return error_.type;
        case member::kErrorMessage:
            return error_.message;
        case member::kResponseTimeout:
            return responseTimeoutMs_;
        case member::kParameters:
            if (!parametersObject_) {
                parametersObject_ = std::make_shared<ParametersObject>(weak_from_this());
            }
            return parametersObject_;
        case member::kDetection:
            if (!detectionObject_) {
                detectionObject_ = std::make_shared<DetectionObject>(weak_from_this());
            }
            return detectionObject_;
        case member::kAdapters:
            if (!adaptersObject_) {
                adaptersObject_ = std::make_shared<AdaptersObject>(weak_from_this());
            }
            return adaptersObject_;
        default:
            return {};
    }
}

bool SamDiaXSubstitute::Put(int32_t m, const SamValue& value, const std::vector<SamValue>& args) {
    std::lock_guard lock(mutex_);
    switch (m) {
        case member::kLinkState:
            linkState_ = AsInt(value);
            return true;
        case member::kRequest:
            request_ = AsText(value);
            return true;
        case member::kMode:
            mode_ = AsInt(value);
            return true;
        case member::kResponseTimeout:
            responseTimeoutMs_ = AsInt(value);
            return true;
        case member::kSetting:
            if (args.size() != 1) return false;
            settings_[AsInt(args[0])] = AsText(value);
            return true;
        case member::kOption2:
        case member::kOption19:
        case member::kOption26:
        case member::kOption41:
        case member::kOption43:
            flags_[m] = AsBool(value);
            return true;
        default:
            return false;
    }
}

SamValue SamDiaXSubstitute::Call(int32_t m, const std::vector<SamValue>&) {
    std::lock_guard lock(mutex_);
    switch (m) {
        case member::kTransfer:
            return Transfer();
        case member::kStartCommunication:
            return Start();
        case member::kStopCommunication:
            return StopCommunication();
        case member::kRunning:
            return (CanMode() ? can_.IsRunning() : Line().IsRunning()) ? 1 : 0;
        default:
            return {};
    }
}

void SamDiaXSubstitute::SetEventSink(EventSink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

std::string SamDiaXSubstitute::Parameter(int32_t id) {
    std::lock_guard lock(mutex_);
    auto found = parameters_.find(id);
    return found == parameters_.end() ? std::string() : found->second;
}

// A running channel takes addressing and keep-alive at once (the keep-alive stops with mode 0).
void SamDiaXSubstitute::SetParameter(int32_t id, const std::string& value) {
    std::lock_guard lock(mutex_);
    parameters_[id] = value;
    if (CanMode() && can_.IsRunning()) can_.Apply(CanSettings());
}

void SamDiaXSubstitute::SetConfigurationPath(const std::string& path) {
    std::lock_guard lock(mutex_);
    configurationPath_ = path;
}

// A configuration file holds lines "<parameter id>=<value>"; other lines are comments.
bool SamDiaXSubstitute::LoadConfiguration() {
    std::lock_guard lock(mutex_);
    std::ifstream file(configurationPath_);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        char* end = nullptr;
        const long id = std::strtol(line.c_str(), &end, 10);
        if (end != line.c_str() + equals) continue;
        std::string value = line.substr(equals + 1);
        if (!value.empty() && value.back() == '\r') value.pop_back();
        parameters_[static_cast<int32_t>(id)] = value;
    }
    return true;
}

// Finds the adapter of the current mode when its transport opens, then raises the detection
// event with the count (outside the lock: the sink may call back).
int32_t SamDiaXSubstitute::Detect() {
    EventSink sink;
    int32_t found = 0;
    {
        std::lock_guard lock(mutex_);
        const bool present = CanMode() ? can_.Present() : Line().Present();
        adaptersFound_ = present ? 1 : 0;
        found = adaptersFound_;
        sink = sink_;
    }
    if (sink) sink(samdiax::kDetectionFinishedEvent, found);
    return 0;
}

int32_t SamDiaXSubstitute::AdaptersFound() {
    std::lock_guard lock(mutex_);
    return adaptersFound_;
}

int32_t SamDiaXSubstitute::ParameterNumber(int32_t id, int32_t fallback) {
    auto found = parameters_.find(id);
    if (found == parameters_.end()) return fallback;
    char* end = nullptr;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    return end == found->second.c_str() ? fallback : static_cast<int32_t>(value);
}

SamCanSettings SamDiaXSubstitute::CanSettings() {
    SamCanSettings settings;
    settings.bitRate = static_cast<uint32_t>(ParameterNumber(kBitRate, 500000));
    settings.functional = ParameterNumber(kAddressMode, 0) == 1;
    settings.requestId = static_cast<uint32_t>(ParameterNumber(kRequestId, 0));
    settings.responseId = static_cast<uint32_t>(ParameterNumber(kResponseId, 0));
    settings.useFill = ParameterNumber(kUseFill, 0) == 1;
    settings.fill = static_cast<uint8_t>(ParameterNumber(kFill, 0xFF));
    settings.keepAliveMode = ParameterNumber(kKeepAliveMode, 0);
    const bool functionalKeepAlive = ParameterNumber(kKeepAliveFunctional, 0) == 1;
    settings.keepAliveId = functionalKeepAlive
                               ? static_cast<uint32_t>(ParameterNumber(kFunctionalId, 0))
                               : settings.requestId;
    if (settings.keepAliveMode == 2) settings.keepAlive = BytesOf(parameters_[kKeepAliveMessage]);
    settings.responseTimeoutMs =
        static_cast<uint32_t>(responseTimeoutMs_ > 0 ? responseTimeoutMs_ : 1);
    return settings;
}

SamValue SamDiaXSubstitute::Start() {
    SamError error;
    if (CanMode()) {
        if (can_.Start(CanSettings(), error)) return kStarted;
    } else if (Line().Start(parameters_, settings_, error)) {
        return kStarted;
    }
    Fail(error);
    return kNotStartedResult;
}

SamValue SamDiaXSubstitute::StopCommunication() {
    can_.Stop();
    line_->Stop();
    kalidorLine_->Stop();
    return 0;
}

void SamDiaXSubstitute::Fail(const SamError& error) {
    error_ = error;
    response_.clear();
}

// Runs the request of member 8; >= 0 with the response in member 9, or the negative error
// number with members 17, 46 and 55 set.
SamValue SamDiaXSubstitute::Transfer() {
    uint8_t request[SamCanChannel::kMaxMessage + 1];
    uint8_t response[SamCanChannel::kMaxMessage];
    std::size_t length = 0;
    SamError error;
    if (HexStringToBytes(request_, request, sizeof(request), length) <= 0) {
        Set(error, kBadRequest);
        Fail(error);
        return -error.number;
    }
    int32_t received = -1;
    if (CanMode()) {
        const SamCanSettings settings = CanSettings();
        if (!can_.IsRunning() || can_.BitRate() != settings.bitRate) can_.Start(settings, error);
        can_.Apply(settings);
        if (can_.IsRunning())
            received = can_.Exchange(request, length, response, sizeof(response), error);
        // A bus failure closes the channel, so that the next request opens it afresh.
        if (received < 0 && error.type == kErrorTypeBus) can_.Stop();
    } else {
        received = Line().Exchange(request, length, response, sizeof(response), error);
    }
    if (received < 0) {
        Fail(error);
        return -error.number;
    }
    response_ = BytesToHexString(response, static_cast<std::size_t>(received));
    error_ = {};
    return received;
}

}  // namespace diagbridge::samtec
