#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "devices/SamDiaXControl.h"

namespace diagbridge::samdiax {

// The SamDiaX calls the Samtec containers share, by member number: parameters by id, protocol
// settings by number, the request exchange, the error account, and the hardware-detection
// wait on the control's event 19.
class SamDiaXBinding {
  public:
    static constexpr uint32_t kDetectionTimeoutMs = 5000;
    static constexpr uint32_t kDetectionSliceMs = 50;

    struct Error {
        int32_t number = 0;
        int32_t type = 0;
        std::string message;
    };

    // Binds control (null: unbound) and takes its events.
    explicit SamDiaXBinding(std::shared_ptr<ISamControl> control);
    ~SamDiaXBinding();
    SamDiaXBinding(const SamDiaXBinding&) = delete;
    SamDiaXBinding& operator=(const SamDiaXBinding&) = delete;

    bool IsBound() const { return control_ != nullptr; }
    ISamControl& Control() { return *control_; }

    std::string Firmware();
    void PutFlag(int32_t member, bool value);
    void PutInt(int32_t member, int32_t value);
    int32_t GetInt(int32_t member);
    // Method call; its integer result (0 for none).
    int32_t CallInt(int32_t member);
    // P.Item(id).11 := value; a number is written as decimal text.
    void SetParameter(int32_t id, const std::string& value);
    void SetParameter(int32_t id, int64_t value);
    std::string Parameter(int32_t id);
    // P.member := value (the parameter object's own members).
    void PutParametersMember(int32_t member, const SamValue& value);
    SamValue CallParametersMember(int32_t member);
    // control.33(index) := value.
    void SetSetting(int32_t index, const std::string& value);
    // .8 := request, r = .16; r >= 0: response := .9. Result r.
    int32_t Transfer(const std::string& request, std::string& response);
    // The account of the last failed request (.17, .46, .55).
    Error LastError();
    // "Error: %d\nErrorType: %d\nMessage: %s".
    static std::string Describe(const Error& error);

    // The detection object A and the adapters object B.
    std::shared_ptr<ISamObject> Detection();
    std::shared_ptr<ISamObject> Adapters();
    // Starts detection (A.4) and waits for event 19, at most kDetectionTimeoutMs in slices of
    // kDetectionSliceMs. True when the event came.
    bool RunDetection();

  private:
    void OnEvent(int32_t event);
    std::shared_ptr<ISamObject> Parameters();

    std::shared_ptr<ISamControl> control_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool detectionFinished_ = false;
};

}  // namespace diagbridge::samdiax
