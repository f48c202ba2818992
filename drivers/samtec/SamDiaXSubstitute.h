#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "devices/SamDiaXControl.h"
#include "drivers/samtec/SamCanChannel.h"
#include "drivers/samtec/SamError.h"

namespace diagbridge::samtec {

class ISamLine;

// Environment variables that choose the substitute's transports.
inline constexpr const char* kCanSourceVariable = "DIAGBRIDGE_SAMTEC_CAN";      // XL selector
inline constexpr const char* kKlineDeviceVariable = "DIAGBRIDGE_SAMTEC_KLINE";  // serial device

// The firmware text the substitute reports (member 3, and 14 of each adapter).
inline constexpr const char* kSubstituteFirmware = "SDX-SUBSTITUTE 1.0";

// A stand-in for the SamDiaX control with the members and the detection event the containers
// use, working on transports of our own: in CAN mode (member 59 = 1) the adapter's ISO-TP on
// the XL driver source named by DIAGBRIDGE_SAMTEC_CAN (default: that of DIAGBRIDGE_XL); in
// K-line mode (0) KWP2000, or Kalidor when parameter 1030 is "25" (quick) or "16" (free
// run), on the serial device named by DIAGBRIDGE_SAMTEC_KLINE. Adapter parameters take effect at
// the next request; a request opens the transport when it is not open. Not the vendor's control.
class SamDiaXSubstitute final : public samdiax::ISamControl,
                                public std::enable_shared_from_this<SamDiaXSubstitute> {
  public:
    SamDiaXSubstitute(std::string canSelector, std::string klineDevice);
    ~SamDiaXSubstitute() override;

    // The substitute with its transports from the environment.
    static std::shared_ptr<SamDiaXSubstitute> FromEnvironment();

    samdiax::SamValue Get(int32_t member, const std::vector<samdiax::SamValue>& args) override;
    bool Put(int32_t member, const samdiax::SamValue& value,
             const std::vector<samdiax::SamValue>& args) override;
    samdiax::SamValue Call(int32_t member, const std::vector<samdiax::SamValue>& args) override;
    void SetEventSink(EventSink sink) override;

    // Objects of the control (the parameter object, detection, adapters) reach the state here.
    std::string Parameter(int32_t id);
    void SetParameter(int32_t id, const std::string& value);
    bool LoadConfiguration();
    void SetConfigurationPath(const std::string& path);
    int32_t Detect();
    int32_t AdaptersFound();

  private:
    samdiax::SamValue Transfer();
    samdiax::SamValue Start();
    samdiax::SamValue StopCommunication();
    SamCanSettings CanSettings();
    int32_t ParameterNumber(int32_t id, int32_t fallback);
    void Fail(const SamError& error);
    static constexpr int32_t kModeCan = 1;  // member 59; 0 is the K-line
    bool CanMode() const { return mode_ == kModeCan; }
    // The K-line protocol parameter 1030 chooses: Kalidor or KWP2000.
    ISamLine& Line();

    std::recursive_mutex mutex_;
    std::map<int32_t, std::string> parameters_;
    std::map<int32_t, std::string> settings_;
    std::map<int32_t, bool> flags_;
    std::string request_;
    std::string response_;
    SamError error_;
    int32_t linkState_ = -1;
    int32_t mode_ = 0;
    int32_t responseTimeoutMs_ = static_cast<int32_t>(SamCanSettings::kDefaultResponseTimeoutMs);
    int32_t detectionOption1_ = 0;
    int32_t detectionOption2_ = 0;
    int32_t adaptersFound_ = 0;
    std::string configurationPath_;
    SamCanChannel can_;
    std::unique_ptr<ISamLine> line_;
    std::unique_ptr<ISamLine> kalidorLine_;
    EventSink sink_;
    std::shared_ptr<samdiax::ISamObject> parametersObject_;
    std::shared_ptr<samdiax::ISamObject> detectionObject_;
    std::shared_ptr<samdiax::ISamObject> adaptersObject_;
};

// The K-line side: one protocol on the serial device, started and stopped by the control.
class ISamLine {
  public:
    virtual ~ISamLine() = default;
    virtual bool Present() = 0;
    // Opens the device and wakes the ECU as the parameters say; false with error.
    virtual bool Start(const std::map<int32_t, std::string>& parameters,
                       const std::map<int32_t, std::string>& settings, SamError& error) = 0;
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
    // One request, its answer; the answer's length or -1 with error.
    virtual int32_t Exchange(const uint8_t* request, size_t length, uint8_t* response,
                             size_t capacity, SamError& error) = 0;
};

}  // namespace diagbridge::samtec
