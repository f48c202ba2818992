#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ecu/EcuParameterBlock.h"
#include "engine/HexRange.h"
#include "engine/ServiceOrder.h"
#include "platform/Clock.h"

namespace diagbridge {

class CCommunicationServiceThread;
class CEcu;
class CHardwareInterface;
class IServiceEvents;

// Status codes of a communication object.
enum ServiceStatus : int32_t {
    kStatusNothing = 888888,
    kStatusCreated = 1,
    kStatusInitialized = 2,
    kStatusConnected = 3,
    kStatusDisconnected = 4,
    kStatusDeleted = 5,
    kStatusAlive = 6,  // requested after a keep-alive; stored as 3 with the text "ALIVE"
    kStatusCommunicationMalfunction = -1,
    kStatusInternalMalfunction = -2,
};

// Protocol codes, tested when an ECU object is created on a communication object.
enum ProtocolCode : int32_t {
    kProtocolKwp2000 = 1,
    kProtocolUds = 2,
    kProtocolKalidor = 3,
    kProtocolIso9141 = 6,
};

// Result codes shared by all layers.
enum ResultCode : int32_t {
    kResultOk = 0,
    kResultCommunication = -1,
    kResultConnectionLost = -2,
    kResultBadParameter = -3,
    kResultNotPermitted = -4,
    kResultTimeout = -5,
    kResultAbandoned = -6,
    kResultFailure = -7,
    // Download and exchange results both stacks give.
    kResultHexMalformed = -50,
    kResultRequestDownloadFailed = -52,
    kResultTransferDataFailed = -53,
    kResultTransferExitFailed = -54,
    kResultNegativeResponse = -100,  // the ECU answered 7F
    kResultNothingDue = 999999,      // a keep-alive pass had nothing to do
};

// One communication object: a protocol stack on its adapters. The base owns the worker
// thread, the hardware interface, the status machine, the parameter-string convention and
// the three event channels; each protocol class fills in the virtual operations.
class CSoftwareInterface {
  public:
    static constexpr int32_t kInitialTimeoutMs = 300000;
    // How long a new order waits for a cancelled service to give the worker back.
    static constexpr uint32_t kParkTimeoutMs = 30000;
    // How long keep-alive phase 0 waits for a running keep-alive pass.
    static constexpr uint32_t kKeepAliveParkMs = 200;
    static constexpr uint32_t kPassPauseMs = 10;

    CSoftwareInterface(IServiceEvents* events, int32_t protocolCode);
    virtual ~CSoftwareInterface();
    CSoftwareInterface(const CSoftwareInterface&) = delete;
    CSoftwareInterface& operator=(const CSoftwareInterface&) = delete;

    // --- operations each protocol may override ---
    virtual int32_t ServiceKeepAlive() { return 0; }
    virtual int32_t DataTransfer(const std::string& /*request*/, std::string& /*response*/) {
        return 0;
    }
    virtual int32_t ExtDataTransfer(int32_t /*addressMode*/, const std::string& /*request*/,
                                    std::string& /*response*/) {
        return 0;
    }
    virtual int32_t SetKeepAlive(int32_t /*phase*/) { return 0; }
    // Time-out in ms of the current order's command.
    virtual int32_t GetServiceTimeout() { return 0; }
    virtual std::string GetParameterString() { return {}; }
    virtual int32_t ParseParameterString(const std::string& /*text*/) { return 0; }
    virtual int32_t SetParameter(const std::string& /*key*/, const std::string& /*value*/) {
        return 0;
    }
    // 1 when the Intel-HEX text holds data, with its range; else 0.
    virtual int32_t DetectHexRange(const std::string& hexText, HexRange& range);
    // One worker pass over the current order (called by the worker only).
    virtual int32_t DispatchService();
    // Pause in ms after a pass before the next one (repeated passes of the keep-alive
    // loop); a new order ends the pause at once.
    virtual uint32_t PassPauseMs() const { return kPassPauseMs; }
    virtual int32_t ServiceCreateHWObject(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceDeleteHWObject(ServiceOrder order);
    virtual int32_t ServiceConnectToObject(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceDisconnectFromObject(ServiceOrder order);
    virtual int32_t ServiceGetObjectInfo(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceSetDiagnosticAccess(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceSingleRequest(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceUpload(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceDownload(ServiceOrder /*order*/) { return 0; }
    virtual int32_t ServiceJob(ServiceOrder /*order*/) { return 0; }

    // --- hand-over to the worker ---
    // Runs order on the worker and returns the service result, or -5 when it did not finish
    // within GetServiceTimeout (the service is then asked to stop and the next order waits
    // until it has), -7 without a worker. connectingEcu, when given, hands over its
    // parameter block and becomes the attached ECU object before the order runs (the object
    // it replaces is marked not connected); a successful connect marks it connected.
    int32_t ExecuteService(ServiceOrder order, CEcu* connectingEcu = nullptr);
    // True when the last ExecuteService saw its service finish; only then is ResultRecord
    // the record of that service.
    bool ServiceCompleted() const { return serviceCompleted_; }
    // The result record of the last completed service, with the attached ECU object's ident
    // and upload texts (client side; keep-alive passes that follow do not touch it).
    const ServiceOrder& ResultRecord() const { return completedRecord_; }
    // Clears the attachment of ecu (being destroyed), after the worker has parked. False when
    // a service still runs on it.
    bool DetachEcu(const CEcu* ecu);
    // Stops the running service and ends the worker; called before destruction so that no
    // pass runs on a half-destroyed object. False, worker left running, when it did not park
    // within kParkTimeoutMs.
    bool StopWorker();
    // No event leaves this object any more (waits for one being fired).
    void SilenceEvents();

    // --- status machine and events ---
    void SetStatus(int32_t result, int32_t requested);
    void RaiseProgress(int16_t blockId, int16_t progress, const std::string& text);
    void RaiseStatus(int32_t code, const std::string& text);
    void RaiseTrace(int32_t traceId, const std::string& text);
    // Holds for ms milliseconds on the clock (short protocol gaps).
    void DelayMs(uint32_t ms);
    // Waits ms milliseconds; false at once when the running service was cancelled.
    bool PauseMs(uint32_t ms);
    bool IsCancelled() const { return cancel_.IsSet(); }
    // One request through the hardware interface, timed and traced ("%4.3d ms |req|resp|", or
    // "ERROR Datatransfer [req]: ..." when trace is set): 0, -1 no answer (or, with
    // needsAnswer, an empty one), -5 cancelled before it went out, -7 no hardware interface.
    int32_t TimedTransfer(const std::string& request, std::string& response, bool trace,
                          bool needsAnswer = false);
    platform::CancelFlag& Cancel() { return cancel_; }

    int32_t StatusCode() const { return statusCode_.load(); }
    std::string StatusText() const;
    int32_t ProtocolCode() const { return protocolCode_; }
    bool ParametersAccepted() const { return parametersAccepted_; }
    CEcu* AttachedEcu() const { return attachedEcu_.load(); }
    CHardwareInterface* HardwareInterface() const { return hardwareInterface_.get(); }
    EcuParameterBlock& Parameters() { return parameters_; }
    const ServiceOrder& CurrentOrder() const { return currentOrder_; }
    bool TraceOn() const { return traceFlag_; }
    bool ProgressOn() const { return progressFlag_; }
    bool StatusOn() const { return statusFlag_; }

  protected:
    // Does the class have a service operation for this command code?
    virtual bool HandlesCommand(int32_t command) const;
    // Codes that a pass clears without running anything (the others idle).
    virtual bool ClearsCommand(int32_t command) const;
    // Runs after a service operation, before the status update (UDS pauses here).
    virtual void AfterService(int32_t /*command*/) {}
    // Keep-alive phases for protocols that run one: 0 parks a running keep-alive loop before
    // a service, 1 restarts it after a successful one.
    void KeepAlivePhase(int32_t phase);
    // Reads the common switches TRACE, PROGRESS and STATUS; false for any other key.
    bool SetCommonParameter(const std::string& key, const std::string& value);
    // "|TRACE=%d|PROGRESS=%d|STATUS=%d".
    std::string CommonParameterString() const;
    // Applies the creation string; clears the accepted flag when it is rejected.
    void AcceptParameterString(const std::string& text);
    ServiceOrder& ResultRecordForService() { return resultRecord_; }
    void SetHardwareInterface(std::unique_ptr<CHardwareInterface> hardware);

    EcuParameterBlock parameters_;
    int32_t keepAliveIntervalMs_ = 0;
    bool traceFlag_ = false;
    bool progressFlag_ = false;
    bool statusFlag_ = false;
    uint32_t lastKeepAliveTick_ = 0;
    std::vector<std::string> stringList_;

  private:
    int32_t RunServiceOperation(int32_t command, const ServiceOrder& order, std::string hexText);
    void IdleOrClear(int32_t command);
    void ApplyStatus(int32_t code, const char* text, int32_t raised);
    void SetAttachedConnected(bool connected);
    bool WaitForWorker(uint32_t timeoutMs);
    // Makes ecu the attached object; the one it replaces is no longer connected.
    void Attach(CEcu& ecu);
    void HandOverResult();
    void ClearAttachedTexts(int32_t command);

    // Held while an event is fired; recursive, as a sink may cause another event.
    std::recursive_mutex eventsMutex_;
    IServiceEvents* events_;
    int32_t protocolCode_;
    bool parametersAccepted_ = true;
    int32_t serviceResult_ = kResultFailure;
    int32_t currentTimeoutMs_ = kInitialTimeoutMs;
    std::atomic<int32_t> statusCode_{kStatusNothing};
    mutable std::mutex statusTextMutex_;
    std::string statusText_ = "NOTHING";
    std::unique_ptr<CHardwareInterface> hardwareInterface_;
    std::atomic<CEcu*> attachedEcu_{nullptr};
    bool serviceCompleted_ = false;
    platform::CancelFlag cancel_;
    ServiceOrder currentOrder_;
    ServiceOrder resultRecord_;     // written by the worker
    ServiceOrder completedRecord_;  // copy handed to the client
    std::unique_ptr<CCommunicationServiceThread> thread_;
};

}  // namespace diagbridge
