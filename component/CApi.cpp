#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "component/DbrComponent.h"
#include "component/diagbridge_c.h"

// The C interface: an opaque handle over the C++ command interface; each call converts its
// texts and copies results into the caller's buffers.

namespace {

using diagbridge::ICommandInterfaceEvents;

class CallbackSink : public ICommandInterfaceEvents {
  public:
    explicit CallbackSink(const DbrEventCallbacks& callbacks) : callbacks_(callbacks) {}
    int32_t DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                               const std::string& strInfo) override {
        if (callbacks_.progress) {
            callbacks_.progress(callbacks_.context, iBlockId, iProgress, strInfo.c_str());
        }
        return 0;
    }
    int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) override {
        if (callbacks_.status) callbacks_.status(callbacks_.context, lStatus, strStatus.c_str());
        return 0;
    }
    int32_t DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) override {
        if (callbacks_.trace) callbacks_.trace(callbacks_.context, lTraceId, strTrace.c_str());
        return 0;
    }

  private:
    DbrEventCallbacks callbacks_;
};

std::string Text(const char* text) {
    return text == nullptr ? std::string() : text;
}

// Copies text with its terminator; an empty text and DBR_E_BUFFER when it does not fit.
int32_t CopyOut(int32_t hresult, const std::string& text, char* out, int32_t size) {
    if (out == nullptr || size <= 0) return DBR_E_POINTER;
    if (text.size() + 1 > static_cast<std::size_t>(size)) {
        out[0] = '\0';
        return DBR_E_BUFFER;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return hresult;
}

}  // namespace

extern "C" {

DbrComponent* DbrCreate(void) {
    return new (std::nothrow) DbrComponent();
}

void DbrDestroy(DbrComponent* component) {
    delete component;
}

uint32_t DbrAdvise(DbrComponent* c, const DbrEventCallbacks* callbacks) {
    if (c == nullptr || callbacks == nullptr) return 0;
    c->sinks.push_back(std::make_unique<CallbackSink>(*callbacks));
    return c->component.Advise(c->sinks.back().get());
}

int32_t DbrUnadvise(DbrComponent* c, uint32_t cookie) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.Unadvise(cookie);
}

int32_t DbrCGetVersion(DbrComponent* c, const char* parameter, char* version, int32_t versionSize) {
    if (c == nullptr) return DBR_E_POINTER;
    std::string text;
    return CopyOut(c->component.DbrGetVersion(Text(parameter), &text), text, version, versionSize);
}

int32_t DbrCGetVersionOf(DbrComponent* c, int32_t id, char* version, int32_t versionSize) {
    if (c == nullptr) return DBR_E_POINTER;
    std::string text;
    return CopyOut(c->component._DbrGetVersion(id, &text), text, version, versionSize);
}

int32_t DbrCCreateCommunicationObject(DbrComponent* c, const char* parameter, int32_t* id) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrCreateCommunicationObject(Text(parameter), id);
}

int32_t DbrCDeleteCommunicationObject(DbrComponent* c, int32_t id, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrDeleteCommunicationObject(id, result);
}

int32_t DbrCCreateEcuObject(DbrComponent* c, const char* parameter, int32_t communicationId,
                            int32_t* ecuId) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrCreateEcuObject(Text(parameter), communicationId, ecuId);
}

int32_t DbrCDeleteEcuObject(DbrComponent* c, int32_t id, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrDeleteEcuObject(id, result);
}

int32_t DbrCGetConfiguration(DbrComponent* c, int32_t id, char* info, int32_t infoSize,
                             int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    std::string text;
    return CopyOut(c->component.DbrGetConfiguration(id, &text, result), text, info, infoSize);
}

int32_t DbrCConnect(DbrComponent* c, int32_t id, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrConnect(id, result);
}

int32_t DbrCDisconnect(DbrComponent* c, int32_t id, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrDisconnect(id, result);
}

int32_t DbrCSetDiagnosticAccess(DbrComponent* c, int32_t id, int32_t oemId, int32_t diagnosticMode,
                                int32_t baudrate, int16_t useSpecialTiming, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrSetDiagnosticAccess(id, oemId, diagnosticMode, baudrate,
                                               useSpecialTiming, result);
}

int32_t DbrCSetPredefinedDiagnosticAccess(DbrComponent* c, int32_t id, int32_t session,
                                          int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrSetPredefinedDiagnosticAccess(id, session, result);
}

int32_t DbrCSingleRequest(DbrComponent* c, int32_t id, int32_t addressMode, const char* request,
                          char* response, int32_t responseSize, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    std::string text;
    return CopyOut(c->component.DbrExtSingleRequest(id, addressMode, Text(request), &text, result),
                   text, response, responseSize);
}

int32_t DbrCSingleRequestBytes(DbrComponent* c, int32_t id, int32_t addressMode,
                               const uint8_t* request, int32_t requestSize, uint8_t* response,
                               int32_t responseSize, int32_t* result) {
    if (c == nullptr || response == nullptr || result == nullptr) return DBR_E_POINTER;
    uint8_t full[DBR_MAX_BYTES] = {};
    const int32_t hresult =
        c->component._DbrExtSingleRequest(id, addressMode, request, requestSize, full, result);
    if (*result < 0) {
        // No count comes with a negative result: what fits, zero-padded (7F 31 22 00 ...).
        std::memcpy(response, full, std::min<std::size_t>(sizeof(full), std::max(responseSize, 0)));
        return hresult;
    }
    if (*result == 0) return hresult;
    if (*result > responseSize) return DBR_E_BUFFER;
    std::memcpy(response, full, static_cast<std::size_t>(*result));
    return hresult;
}

int32_t DbrCUpload(DbrComponent* c, int32_t id, const char* header, char* upload,
                   int32_t uploadSize, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    std::string text;
    return CopyOut(c->component.DbrUpload(id, Text(header), &text, result), text, upload,
                   uploadSize);
}

int32_t DbrCDownload(DbrComponent* c, int32_t id, int32_t type, const char* hexData,
                     int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrDownload(id, type, Text(hexData), result);
}

int32_t DbrCJob(DbrComponent* c, int32_t id, const char* job, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    return c->component.DbrJob(id, Text(job), result);
}

int32_t DbrCGetIdent(DbrComponent* c, int32_t id, char* ident, int32_t identSize, int32_t* result) {
    if (c == nullptr) return DBR_E_POINTER;
    std::string text;
    return CopyOut(c->component.DbrGetIdent(id, &text, result), text, ident, identSize);
}

}  // extern "C"
