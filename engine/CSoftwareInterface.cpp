#include "engine/CSoftwareInterface.h"

#include <cstdio>
#include <utility>

#include "devices/CHardwareInterface.h"
#include "ecu/CEcu.h"
#include "engine/CCommunicationServiceThread.h"
#include "engine/IServiceEvents.h"
#include "engine/ParameterString.h"
#include "platform/Clock.h"

namespace diagbridge {

namespace {
constexpr uint32_t kIdlePassMs = 10;

// The status each command asks for once its service has run; 0 for none.
int32_t RequestedStatus(int32_t command) {
    switch (command) {
        case kCommandCreateHWObject:
            return kStatusCreated;
        case kCommandDisconnect:
            return kStatusDisconnected;
        case kCommandDeleteHWObject:
            return kStatusDeleted;
        case kCommandKeepAlive:
            return kStatusAlive;
        case kCommandSingleRequest:
            return 0;
        default:
            return kStatusConnected;
    }
}
}  // namespace

CSoftwareInterface::CSoftwareInterface(IServiceEvents* events, int32_t protocolCode)
    : events_(events),
      protocolCode_(protocolCode),
      thread_(std::make_unique<CCommunicationServiceThread>(*this)) {}

CSoftwareInterface::~CSoftwareInterface() {
    StopWorker();
    if (hardwareInterface_) hardwareInterface_->HALDeInit();
}

int32_t CSoftwareInterface::DetectHexRange(const std::string& hexText, HexRange& range) {
    return diagbridge::DetectHexRange(hexText, range);
}

// ---------------------------------------------------------------- dispatch

bool CSoftwareInterface::HandlesCommand(int32_t command) const {
    switch (command) {
        case kCommandCreateHWObject:
        case kCommandConnect:
        case kCommandDisconnect:
        case kCommandDeleteHWObject:
        case kCommandGetObjectInfo:
        case kCommandSetDiagnosticAccess:
        case kCommandSingleRequest:
        case kCommandUpload:
        case kCommandDownload:
        case kCommandJob:
        case kCommandKeepAlive:
            return true;
        default:
            return false;
    }
}

bool CSoftwareInterface::ClearsCommand(int32_t command) const {
    return command == 5 || command == 6 || command == 8 || command == 9;
}

int32_t CSoftwareInterface::DispatchService() {
    serviceResult_ = kResultOk;
    const int32_t command = currentOrder_.command;
    if (!HandlesCommand(command)) {
        IdleOrClear(command);
        return 0;
    }
    // The HEX text goes to the download alone: no record keeps a copy of it.
    std::string hexText = std::exchange(currentOrder_.hexText, {});
    resultRecord_ = currentOrder_;
    resultRecord_.response.clear();
    ClearAttachedTexts(command);
    serviceResult_ = RunServiceOperation(command, currentOrder_, std::move(hexText));
    AfterService(command);
    // A service that was told to stop leaves the status as it was.
    if (cancel_.IsSet()) serviceResult_ = kResultTimeout;
    const int32_t requested = RequestedStatus(command);
    if (requested != 0) SetStatus(serviceResult_, requested);
    if (command != kCommandKeepAlive) currentOrder_.command = kCommandIdle;
    return 0;
}

int32_t CSoftwareInterface::RunServiceOperation(int32_t command, const ServiceOrder& order,
                                                std::string hexText) {
    switch (command) {
        case kCommandCreateHWObject:
            return ServiceCreateHWObject(order);
        case kCommandConnect:
            return ServiceConnectToObject(order);
        case kCommandDisconnect:
            return ServiceDisconnectFromObject(order);
        case kCommandDeleteHWObject:
            return ServiceDeleteHWObject(order);
        case kCommandGetObjectInfo:
            return ServiceGetObjectInfo(order);
        case kCommandSetDiagnosticAccess:
            return ServiceSetDiagnosticAccess(order);
        case kCommandSingleRequest:
            return ServiceSingleRequest(order);
        case kCommandUpload:
            return ServiceUpload(order);
        case kCommandDownload: {
            ServiceOrder download = order;
            download.hexText = std::move(hexText);
            return ServiceDownload(std::move(download));
        }
        case kCommandJob:
            return ServiceJob(order);
        case kCommandKeepAlive:
            return ServiceKeepAlive();
        default:
            return kResultOk;
    }
}

// An ident or upload starts from empty texts, so a failed one shows nothing stale.
void CSoftwareInterface::ClearAttachedTexts(int32_t command) {
    CEcu* ecu = attachedEcu_.load();
    if (ecu == nullptr) return;
    if (command == kCommandGetObjectInfo) ecu->SetIdentText({});
    if (command == kCommandUpload) ecu->SetUploadText({});
}

void CSoftwareInterface::IdleOrClear(int32_t command) {
    if (ClearsCommand(command)) {
        currentOrder_.command = kCommandIdle;
        return;
    }
    platform::Clock().SleepMs(kIdlePassMs, &cancel_);
}

// ---------------------------------------------------------------- hand-over

bool CSoftwareInterface::WaitForWorker(uint32_t timeoutMs) {
    if (thread_->IsParked()) return true;
    thread_->RequestPark();
    return thread_->WaitParked(timeoutMs);
}

int32_t CSoftwareInterface::ExecuteService(ServiceOrder order, CEcu* connectingEcu) {
    serviceCompleted_ = false;
    if (!thread_ || !thread_->IsAlive()) return thread_ ? kResultTimeout : kResultFailure;
    SetKeepAlive(0);
    // Never write an order under a running service: a cancelled one must give the worker
    // back first.
    if (!WaitForWorker(kParkTimeoutMs)) return kResultTimeout;
    cancel_.Reset();
    currentOrder_ = std::move(order);
    if (connectingEcu != nullptr) Attach(*connectingEcu);
    currentTimeoutMs_ = GetServiceTimeout();
    const uint32_t timeoutMs = currentTimeoutMs_ > 0 ? static_cast<uint32_t>(currentTimeoutMs_) : 0;
    const uint64_t passes = thread_->Resume(CCommunicationServiceThread::kOnePass);
    const bool done = thread_->WaitDone(passes, timeoutMs);
    thread_->RequestPark();
    if (!done) {
        if (!thread_->IsAlive()) return kResultTimeout;
        cancel_.Set();
        return kResultTimeout;
    }
    // The pass has finished; wait for the park so that the result record is ours to read.
    if (!thread_->WaitParked(kParkTimeoutMs)) {
        cancel_.Set();
        return kResultTimeout;
    }
    serviceCompleted_ = true;
    HandOverResult();
    const int32_t result = serviceResult_;
    // The link was up already when another ECU object connects: the status does not change,
    // so the connecting object is marked here.
    if (connectingEcu != nullptr && result == kResultOk && StatusCode() == kStatusConnected) {
        connectingEcu->SetConnected(true);
    }
    SetKeepAlive(1);
    return result;
}

void CSoftwareInterface::Attach(CEcu& ecu) {
    CEcu* replaced = attachedEcu_.exchange(&ecu);
    if (replaced != nullptr && replaced != &ecu) replaced->SetConnected(false);
    parameters_ = ecu.Parameters();
}

// Called with the worker parked after a finished service: the texts are no longer written.
void CSoftwareInterface::HandOverResult() {
    completedRecord_ = resultRecord_;
    const CEcu* ecu = attachedEcu_.load();
    if (ecu == nullptr) return;
    if (completedRecord_.command == kCommandGetObjectInfo) {
        completedRecord_.identText = ecu->IdentText();
    }
    if (completedRecord_.command == kCommandUpload) completedRecord_.uploadText = ecu->UploadText();
}

void CSoftwareInterface::KeepAlivePhase(int32_t phase) {
    CEcu* ecu = attachedEcu_.load();
    if (StatusCode() != kStatusConnected || ecu == nullptr || !ecu->IsConnected() || !thread_) {
        return;
    }
    if (phase == 0) {
        thread_->RequestPark();
        thread_->WaitParked(kKeepAliveParkMs);
        return;
    }
    if (!thread_->IsParked()) return;
    // Every keep-alive pass copies the order into the result record: it must not carry the
    // last service's data (a download's whole HEX text) along.
    currentOrder_ = ServiceOrder{};
    currentOrder_.command = kCommandKeepAlive;
    thread_->Resume(CCommunicationServiceThread::kRepeatPasses);
}

bool CSoftwareInterface::DetachEcu(const CEcu* ecu) {
    if (attachedEcu_.load() != ecu) return true;
    if (thread_ && !WaitForWorker(kParkTimeoutMs)) return false;
    attachedEcu_.store(nullptr);
    return true;
}

bool CSoftwareInterface::StopWorker() {
    if (!thread_) return true;
    cancel_.Set();
    thread_->RequestPark();
    if (!thread_->WaitParked(kParkTimeoutMs)) return false;
    thread_.reset();
    return true;
}

void CSoftwareInterface::SilenceEvents() {
    std::lock_guard lock(eventsMutex_);
    events_ = nullptr;
}

void CSoftwareInterface::SetHardwareInterface(std::unique_ptr<CHardwareInterface> hardware) {
    hardwareInterface_ = std::move(hardware);
}

// ---------------------------------------------------------------- status machine

std::string CSoftwareInterface::StatusText() const {
    std::lock_guard lock(statusTextMutex_);
    return statusText_;
}

void CSoftwareInterface::SetAttachedConnected(bool connected) {
    if (CEcu* ecu = attachedEcu_.load()) ecu->SetConnected(connected);
}

void CSoftwareInterface::ApplyStatus(int32_t code, const char* text, int32_t raised) {
    statusCode_.store(code);
    {
        std::lock_guard lock(statusTextMutex_);
        statusText_ = text;
    }
    RaiseStatus(raised, text);
}

void CSoftwareInterface::SetStatus(int32_t result, int32_t requested) {
    if (StatusCode() == requested) return;
    switch (result) {
        case kResultFailure:
            ApplyStatus(kStatusInternalMalfunction, "INTERNAL MAILFUNCTION",
                        kStatusInternalMalfunction);
            SetAttachedConnected(false);
            return;
        case kResultConnectionLost:
            ApplyStatus(kStatusDisconnected, "DISCONNECTED", kStatusDisconnected);
            SetAttachedConnected(false);
            return;
        case kResultCommunication:
            ApplyStatus(kStatusCommunicationMalfunction, "COMMUNICATION MAILFUNCTION",
                        kStatusCommunicationMalfunction);
            SetAttachedConnected(false);
            return;
        case kResultOk:
            break;
        default:
            return;
    }
    switch (requested) {
        case kStatusNothing:
            return ApplyStatus(kStatusNothing, "NOTHING", requested);
        case kStatusInternalMalfunction:
            return ApplyStatus(kStatusInternalMalfunction, "INTERNAL MAILFUNCTION", requested);
        case kStatusCommunicationMalfunction:
            return ApplyStatus(kStatusCommunicationMalfunction, "COMMUNICATION MAILFUNCTION",
                               requested);
        case kStatusCreated:
            return ApplyStatus(kStatusCreated, "CREATED", requested);
        case kStatusInitialized:
            return ApplyStatus(kStatusInitialized, "INITIALIZED", requested);
        case kStatusDeleted:
            return ApplyStatus(kStatusDeleted, "DELETED", requested);
        case kStatusConnected:
            SetAttachedConnected(true);
            return ApplyStatus(kStatusConnected, "CONNECTED", requested);
        case kStatusDisconnected:
            SetAttachedConnected(false);
            return ApplyStatus(kStatusDisconnected, "DISCONNECTED", requested);
        case kStatusAlive:
            SetAttachedConnected(true);
            return ApplyStatus(kStatusConnected, "ALIVE", requested);
        default:
            return;
    }
}

// ---------------------------------------------------------------- events

void CSoftwareInterface::RaiseProgress(int16_t blockId, int16_t progress, const std::string& text) {
    if (!progressFlag_) return;
    std::lock_guard lock(eventsMutex_);
    if (events_ != nullptr) events_->FireProgress(blockId, progress, text);
}

void CSoftwareInterface::RaiseStatus(int32_t code, const std::string& text) {
    if (!statusFlag_) return;
    char line[160];
    std::snprintf(line, sizeof(line), "Status: %d %s", code, text.c_str());
    std::lock_guard lock(eventsMutex_);
    if (events_ != nullptr) events_->FireStatus(code, line);
}

void CSoftwareInterface::RaiseTrace(int32_t traceId, const std::string& text) {
    if (!traceFlag_) return;
    std::lock_guard lock(eventsMutex_);
    if (events_ != nullptr) events_->FireTrace(traceId, text);
}

void CSoftwareInterface::DelayMs(uint32_t ms) {
    platform::Clock().BusyWaitMs(ms);
}

bool CSoftwareInterface::PauseMs(uint32_t ms) {
    return platform::Clock().SleepMs(ms, &cancel_);
}

// ---------------------------------------------------------------- parameters

bool CSoftwareInterface::SetCommonParameter(const std::string& key, const std::string& value) {
    bool* flag = key == "TRACE"      ? &traceFlag_
                 : key == "PROGRESS" ? &progressFlag_
                 : key == "STATUS"   ? &statusFlag_
                                     : nullptr;
    if (flag == nullptr) return false;
    *flag = ReadSwitch(value);
    return true;
}

std::string CSoftwareInterface::CommonParameterString() const {
    char text[64];
    std::snprintf(text, sizeof(text), "|TRACE=%d|PROGRESS=%d|STATUS=%d", traceFlag_ ? 1 : 0,
                  progressFlag_ ? 1 : 0, statusFlag_ ? 1 : 0);
    return text;
}

void CSoftwareInterface::AcceptParameterString(const std::string& text) {
    parametersAccepted_ = ParseParameterString(text) != kResultBadParameter;
}

// ---------------------------------------------------------------- base services

int32_t CSoftwareInterface::ServiceDeleteHWObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceDeleteHWObject: Start");
    if (!hardwareInterface_) {
        RaiseProgress(0, 50, "ServiceDeleteHWObject: Error No HW Object detected");
        return kResultFailure;
    }
    RaiseProgress(0, 50, "ServiceDeleteHWObject: HALDeInit");
    hardwareInterface_->HALDeInit();
    hardwareInterface_.reset();
    RaiseProgress(0, 100, "ServiceDeleteHWObject: finished");
    return kResultOk;
}

int32_t CSoftwareInterface::ServiceDisconnectFromObject(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceDisconnectFromObject: Start");
    if (!hardwareInterface_) {
        RaiseProgress(0, 50, "ServiceDisconnectToObject:  Error No HW Object detected");
        return kResultFailure;
    }
    RaiseProgress(0, 50, "ServiceDisconnectToObject:  Stop Communication");
    hardwareInterface_->HALDisconnect();
    RaiseProgress(0, 100, "ServiceDisconnectToObject: Finished");
    return kResultOk;
}

int32_t CSoftwareInterface::TimedTransfer(const std::string& request, std::string& response,
                                          bool trace, bool needsAnswer) {
    const auto traceError = [&](const char* reason) {
        if (trace) RaiseTrace(0, "ERROR Datatransfer [" + request + "]: " + reason);
    };
    if (HardwareInterface() == nullptr) {
        traceError("Hardware device failed");
        return kResultFailure;
    }
    if (IsCancelled()) return kResultTimeout;
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    const int32_t transferred = HardwareInterface()->HALTransferData(request, response);
    const uint32_t elapsed = platform::ElapsedMs(start, clock.TickMs());
    if (transferred < 0 || (needsAnswer && transferred == 0 && response.empty())) {
        traceError("Communication failed");
        return kResultCommunication;
    }
    if (trace) {
        char milliseconds[16];
        std::snprintf(milliseconds, sizeof(milliseconds), "%4.3d", static_cast<int>(elapsed));
        RaiseTrace(0, std::string(milliseconds) + " ms |" + request + "|" + response + "|");
    }
    return kResultOk;
}

}  // namespace diagbridge
