#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace diagbridge::samdiax {

class ISamObject;

// A value that crosses the control's dispatch interface: nothing, a bool, an int, a text or
// an object (the parameter object, the two sub-objects and their items).
using SamValue =
    std::variant<std::monostate, bool, int32_t, std::string, std::shared_ptr<ISamObject>>;

// One object of the SamDiaX control, reached only by member number, as through IDispatch.
// args are the index arguments of an indexed member (setting 33(index), Item(id)).
class ISamObject {
  public:
    virtual ~ISamObject() = default;
    // Property get; an empty value when the member is unknown.
    virtual SamValue Get(int32_t member, const std::vector<SamValue>& args = {}) = 0;
    // Property put; false when the member is unknown or the value of the wrong kind.
    virtual bool Put(int32_t member, const SamValue& value,
                     const std::vector<SamValue>& args = {}) = 0;
    // Method call; an empty value when the member is unknown.
    virtual SamValue Call(int32_t member, const std::vector<SamValue>& args = {}) = 0;
};

// The control itself: its members and its events by number.
class ISamControl : public ISamObject {
  public:
    using EventSink = std::function<void(int32_t event, int32_t argument)>;
    // The sink gets every event the control raises, on whichever thread raises it; null
    // removes it.
    virtual void SetEventSink(EventSink sink) = 0;
};

// Member numbers the containers use (dispatch identifiers of the control and its objects).
namespace member {
// Control.
constexpr int32_t kLinkState = 1;            // put int: 0 after opening, -1 when closed
constexpr int32_t kOption2 = 2;              // put bool
constexpr int32_t kFirmware = 3;             // get text
constexpr int32_t kRequest = 8;              // put text
constexpr int32_t kResponse = 9;             // get text
constexpr int32_t kStartCommunication = 10;  // call -> int, > 0 started
constexpr int32_t kStopCommunication = 11;   // call -> int
constexpr int32_t kTransfer = 16;            // call -> int, >= 0 success
constexpr int32_t kErrorNumber = 17;         // get int
constexpr int32_t kOption19 = 19;            // put bool
constexpr int32_t kOption26 = 26;            // put bool
constexpr int32_t kSetting = 33;             // put text, indexed by setting number
constexpr int32_t kOption41 = 41;            // put bool
constexpr int32_t kOption43 = 43;            // put bool
constexpr int32_t kErrorType = 46;           // get int
constexpr int32_t kParameters = 51;          // get object P
constexpr int32_t kAdapters = 52;            // get object B
constexpr int32_t kErrorMessage = 55;        // get text
constexpr int32_t kDetection = 56;           // get object A
constexpr int32_t kMode = 59;                // put int: 0 K-line, 1 CAN
constexpr int32_t kRunning = 62;             // call -> int, 1 while communication runs
constexpr int32_t kResponseTimeout = 63;     // get/put int, ms
// Parameter object P.
constexpr int32_t kItem = 0;                 // get object, indexed by parameter id
constexpr int32_t kConfigurationPath = 7;    // put text
constexpr int32_t kParametersOption13 = 13;  // put bool
constexpr int32_t kLoadConfiguration = 16;   // call -> bool
constexpr int32_t kValue = 11;               // an item's value: put/get text
// Detection object A.
constexpr int32_t kDetectionOption1 = 1;  // put int
constexpr int32_t kDetectionOption2 = 2;  // put int
constexpr int32_t kFound = 3;             // get object; its member 1 is the adapter count
constexpr int32_t kFoundCount = 1;
constexpr int32_t kStartDetection = 4;  // call
constexpr int32_t kAdapterFound = 6;    // call -> bool
constexpr int32_t kRefresh = 9;         // call (on the object of A.3, and on B)
// An adapter of B.Item(i).
constexpr int32_t kAdapterFirmware = 14;  // get text
}  // namespace member

// The control's event that ends hardware detection.
constexpr int32_t kDetectionFinishedEvent = 19;

// Value helpers: a value of another kind reads as 0, false, "" or null.
int32_t AsInt(const SamValue& value);
bool AsBool(const SamValue& value);
std::string AsText(const SamValue& value);
std::shared_ptr<ISamObject> AsObject(const SamValue& value);

// Makes the control for a container (the window's control site): the installed control, or
// null when there is none. Tests install their own maker.
using ControlMaker = std::function<std::shared_ptr<ISamControl>()>;
std::shared_ptr<ISamControl> CreateControl();
// Installs maker for the lifetime of this object (tests); restores the previous one after.
class ScopedControlMaker {
  public:
    explicit ScopedControlMaker(ControlMaker maker);
    ~ScopedControlMaker();
    ScopedControlMaker(const ScopedControlMaker&) = delete;
    ScopedControlMaker& operator=(const ScopedControlMaker&) = delete;

  private:
    ControlMaker previous_;
};

}  // namespace diagbridge::samdiax
