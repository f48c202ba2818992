#include "devices/SamDiaXBinding.h"

#include <chrono>
#include <cstdio>

namespace diagbridge::samdiax {

SamDiaXBinding::SamDiaXBinding(std::shared_ptr<ISamControl> control)
    : control_(std::move(control)) {
    if (control_) control_->SetEventSink([this](int32_t event, int32_t) { OnEvent(event); });
}

SamDiaXBinding::~SamDiaXBinding() {
    if (control_) control_->SetEventSink(nullptr);
}

std::string SamDiaXBinding::Firmware() {
    return AsText(control_->Get(member::kFirmware));
}

void SamDiaXBinding::PutFlag(int32_t m, bool value) {
    control_->Put(m, value);
}

void SamDiaXBinding::PutInt(int32_t m, int32_t value) {
    control_->Put(m, value);
}

int32_t SamDiaXBinding::GetInt(int32_t m) {
    return AsInt(control_->Get(m));
}

int32_t SamDiaXBinding::CallInt(int32_t m) {
    return AsInt(control_->Call(m));
}

std::shared_ptr<ISamObject> SamDiaXBinding::Parameters() {
    return AsObject(control_->Get(member::kParameters));
}

void SamDiaXBinding::SetParameter(int32_t id, const std::string& value) {
    auto parameters = Parameters();
    if (!parameters) return;
    if (auto item = AsObject(parameters->Get(member::kItem, {id})))
        item->Put(member::kValue, value);
}

void SamDiaXBinding::SetParameter(int32_t id, int64_t value) {
    SetParameter(id, std::to_string(value));
}

std::string SamDiaXBinding::Parameter(int32_t id) {
    auto parameters = Parameters();
    if (!parameters) return {};
    auto item = AsObject(parameters->Get(member::kItem, {id}));
    return item ? AsText(item->Get(member::kValue)) : std::string();
}

void SamDiaXBinding::PutParametersMember(int32_t m, const SamValue& value) {
    if (auto parameters = Parameters()) parameters->Put(m, value);
}

SamValue SamDiaXBinding::CallParametersMember(int32_t m) {
    auto parameters = Parameters();
    return parameters ? parameters->Call(m) : SamValue();
}

void SamDiaXBinding::SetSetting(int32_t index, const std::string& value) {
    control_->Put(member::kSetting, value, {index});
}

int32_t SamDiaXBinding::Transfer(const std::string& request, std::string& response) {
    control_->Put(member::kRequest, request);
    const int32_t result = CallInt(member::kTransfer);
    if (result >= 0) response = AsText(control_->Get(member::kResponse));
    return result;
}

SamDiaXBinding::Error SamDiaXBinding::LastError() {
    return {GetInt(member::kErrorNumber), GetInt(member::kErrorType),
            AsText(control_->Get(member::kErrorMessage))};
}

std::string SamDiaXBinding::Describe(const Error& error) {
    char text[64];
    std::snprintf(text, sizeof(text), "Error: %d\nErrorType: %d\nMessage: ", error.number,
                  error.type);
    return text + error.message;
}

std::shared_ptr<ISamObject> SamDiaXBinding::Detection() {
    return AsObject(control_->Get(member::kDetection));
}

std::shared_ptr<ISamObject> SamDiaXBinding::Adapters() {
    return AsObject(control_->Get(member::kAdapters));
}

bool SamDiaXBinding::RunDetection() {
    auto detection = Detection();
    if (!detection) return false;
    {
        std::lock_guard lock(mutex_);
        detectionFinished_ = false;
    }
    detection->Call(member::kStartDetection);
    std::unique_lock lock(mutex_);
    for (uint32_t waited = 0; !detectionFinished_ && waited < kDetectionTimeoutMs;
         waited += kDetectionSliceMs) {
        finished_.wait_for(lock, std::chrono::milliseconds(kDetectionSliceMs));
    }
    return detectionFinished_;
}

void SamDiaXBinding::OnEvent(int32_t event) {
    if (event != kDetectionFinishedEvent) return;
    std::lock_guard lock(mutex_);
    detectionFinished_ = true;
    finished_.notify_all();
}

}  // namespace diagbridge::samdiax
