#include "component/win32/ComCommandInterface.h"

#include <olectl.h>

#include "component/win32/ComIds.h"
#include "component/win32/ComModule.h"
#include "component/win32/ComScriptArguments.h"
#include "component/win32/ComStrings.h"

namespace diagbridge::com {

namespace {

constexpr LONG kResultBadParameter = -3;

// A core out-text handed on as a fresh BSTR; the core's HRESULT unless the copy failed.
HRESULT WithText(int32_t coreResult, const std::string& text, BSTR* out) {
    const HRESULT copied = ToBstr(text, out);
    return FAILED(copied) ? copied : static_cast<HRESULT>(coreResult);
}

// Runs a core method whose only out value is its int32 result.
template <typename Call>
HRESULT WithResult(LONG* out, const Call& call) {
    if (out == nullptr) return E_POINTER;
    int32_t result = 0;
    const int32_t hr = call(&result);
    *out = result;
    return static_cast<HRESULT>(hr);
}

// Runs a core method with an out text and an int32 result.
template <typename Call>
HRESULT WithTextAndResult(BSTR* text, LONG* out, const Call& call) {
    if (text == nullptr || out == nullptr) return E_POINTER;
    *text = nullptr;
    std::string value;
    int32_t result = 0;
    const int32_t hr = call(&value, &result);
    *out = result;
    return WithText(hr, value, text);
}

// A byte count the caller's buffers cannot hold, or a missing buffer, never reaches the core.
HRESULT CheckByteBuffers(const unsigned char* request, LONG count, const unsigned char* response,
                         LONG* result) {
    if (result == nullptr || request == nullptr || response == nullptr) return E_POINTER;
    if (count < 0 || count > CCommandInterface::kMaxRequestBytes) {
        *result = kResultBadParameter;
        return E_INVALIDARG;
    }
    return S_OK;
}

// The description of the method with DISPID id (release it), or null.
FUNCDESC* FindMethod(ITypeInfo* info, DISPID id) {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return nullptr;
    const UINT count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc))) continue;
        if (desc->memid == id) return desc;
        info->ReleaseFuncDesc(desc);
    }
    return nullptr;
}

}  // namespace

HRESULT ComCommandInterface::Create(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ITypeInfo* dispatchInfo = nullptr;
    HRESULT hr = CachedTypeInfo(kIidICommandInterface, &dispatchInfo);
    if (FAILED(hr)) return hr;
    // A dual interface is described twice; Invoke calls through the vtable half.
    ITypeInfo* vtableInfo = nullptr;
    HREFTYPE vtableRef = 0;
    if (SUCCEEDED(dispatchInfo->GetRefTypeOfImplType(-1, &vtableRef))) {
        hr = dispatchInfo->GetRefTypeInfo(vtableRef, &vtableInfo);
        if (FAILED(hr)) return hr;
    } else {
        vtableInfo = dispatchInfo;
        vtableInfo->AddRef();
    }
    auto* created = new (std::nothrow) ComCommandInterface(dispatchInfo, vtableInfo);
    if (created == nullptr) {
        vtableInfo->Release();
        return E_OUTOFMEMORY;
    }
    hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

ComCommandInterface::ComCommandInterface(ITypeInfo* dispatchInfo, ITypeInfo* vtableInfo)
    : dispatchInfo_(dispatchInfo), vtableInfo_(vtableInfo) {
    ObjectCreated();
}

ComCommandInterface::~ComCommandInterface() {
    vtableInfo_->Release();
    ObjectDestroyed();
}

// ---------------------------------------------------------------- IUnknown

HRESULT ComCommandInterface::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, kIidICommandInterface)) {
        *object = static_cast<ICommandInterface*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        *object = static_cast<IProvideClassInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ComCommandInterface::AddRef() {
    return ++references_;
}

ULONG ComCommandInterface::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

// ---------------------------------------------------------------- IDispatch

HRESULT ComCommandInterface::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ComCommandInterface::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    dispatchInfo_->AddRef();
    *info = dispatchInfo_;
    return S_OK;
}

HRESULT ComCommandInterface::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                           DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    return vtableInfo_->GetIDsOfNames(names, count, ids);
}

HRESULT ComCommandInterface::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return E_POINTER;
    FUNCDESC* method = FindMethod(vtableInfo_, id);
    if (method == nullptr) return DISP_E_MEMBERNOTFOUND;
    ComScriptArguments arguments(*params);
    HRESULT hr = arguments.Adapt(*method, argumentError);
    vtableInfo_->ReleaseFuncDesc(method);
    if (FAILED(hr)) return hr;
    hr = vtableInfo_->Invoke(static_cast<ICommandInterface*>(this), id, flags, arguments.Params(),
                             result, exception, argumentError);
    arguments.WriteBack();
    return hr;
}

// ---------------------------------------------------------------- connection points

HRESULT ComCommandInterface::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points == nullptr) return E_POINTER;
    *points = nullptr;
    return E_NOTIMPL;
}

HRESULT ComCommandInterface::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, kDiidICommandInterfaceEvents)) return CONNECT_E_NOCONNECTION;
    connectionPoint_.AddRef();
    *point = &connectionPoint_;
    return S_OK;
}

HRESULT ComCommandInterface::GetClassInfo(ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    const HRESULT hr = CachedTypeInfo(kClsidCommandInterface, info);
    if (SUCCEEDED(hr)) (*info)->AddRef();
    return hr;
}

HRESULT ComEventConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) {
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

ULONG ComEventConnectionPoint::AddRef() {
    return owner_.AddRef();
}

ULONG ComEventConnectionPoint::Release() {
    return owner_.Release();
}

HRESULT ComEventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = kDiidICommandInterfaceEvents;
    return S_OK;
}

HRESULT ComEventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** cpc) {
    if (cpc == nullptr) return E_POINTER;
    return owner_.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc));
}

HRESULT ComEventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(kDiidICommandInterfaceEvents,
                                    reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    auto wrapper = std::make_shared<ComEventSink>(dispatch);
    dispatch->Release();
    // The core's lock is never taken under ours: a sink may advise from inside an event.
    const uint32_t given = owner_.Core().Advise(wrapper.get());
    std::lock_guard lock(mutex_);
    sinks_[given] = std::move(wrapper);
    *cookie = given;
    return S_OK;
}

HRESULT ComEventConnectionPoint::Unadvise(DWORD cookie) {
    if (owner_.Core().Unadvise(cookie) != 0) return CONNECT_E_NOCONNECTION;
    std::shared_ptr<ComEventSink> gone;
    {
        std::lock_guard lock(mutex_);
        auto found = sinks_.find(cookie);
        if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
        gone = std::move(found->second);
        sinks_.erase(found);
    }
    return S_OK;
}

HRESULT ComEventConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    *connections = nullptr;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------- ICommandInterface

HRESULT ComCommandInterface::DbrGetVersion(BSTR strParameter, BSTR* strVersion) {
    if (strVersion == nullptr) return E_POINTER;
    *strVersion = nullptr;
    std::string version;
    const int32_t hr = core_.DbrGetVersion(FromBstr(strParameter), &version);
    return WithText(hr, version, strVersion);
}

HRESULT ComCommandInterface::DbrCreateCommunicationObject(BSTR strParameter,
                                                          LONG* lCommunicationObjectId) {
    return WithResult(lCommunicationObjectId, [&](int32_t* out) {
        return core_.DbrCreateCommunicationObject(FromBstr(strParameter), out);
    });
}

HRESULT ComCommandInterface::DbrDeleteCommunicationObject(LONG lCommunicationObjectId,
                                                          LONG* lResult) {
    return WithResult(lResult, [&](int32_t* out) {
        return core_.DbrDeleteCommunicationObject(lCommunicationObjectId, out);
    });
}

HRESULT ComCommandInterface::DbrCreateEcuObject(BSTR strParameter, LONG lCommunicationObjectId,
                                                LONG* lEcuObjectId) {
    return WithResult(lEcuObjectId, [&](int32_t* out) {
        return core_.DbrCreateEcuObject(FromBstr(strParameter), lCommunicationObjectId, out);
    });
}

HRESULT ComCommandInterface::DbrDeleteEcuObject(LONG lEcuObjectId, LONG* lResult) {
    return WithResult(lResult,
                      [&](int32_t* out) { return core_.DbrDeleteEcuObject(lEcuObjectId, out); });
}

HRESULT ComCommandInterface::DbrGetConfiguration(LONG lObjectId, BSTR* strObjectInfo,
                                                 LONG* lResult) {
    return WithTextAndResult(strObjectInfo, lResult, [&](std::string* text, int32_t* out) {
        return core_.DbrGetConfiguration(lObjectId, text, out);
    });
}

HRESULT ComCommandInterface::DbrConnect(LONG lEcuObjectId, LONG* lResult) {
    return WithResult(lResult, [&](int32_t* out) { return core_.DbrConnect(lEcuObjectId, out); });
}

HRESULT ComCommandInterface::DbrDisconnect(LONG lEcuObjectId, LONG* lResult) {
    return WithResult(lResult,
                      [&](int32_t* out) { return core_.DbrDisconnect(lEcuObjectId, out); });
}

HRESULT ComCommandInterface::DbrSetDiagnosticAccess(LONG lEcuObjectId, LONG lOemId,
                                                    LONG lDiagnosticMode, LONG lBaudrate,
                                                    VARIANT_BOOL bUseSpecialTiming, LONG* lResult) {
    return WithResult(lResult, [&](int32_t* out) {
        return core_.DbrSetDiagnosticAccess(lEcuObjectId, lOemId, lDiagnosticMode, lBaudrate,
                                            bUseSpecialTiming, out);
    });
}

HRESULT ComCommandInterface::DbrSetPredefinedDiagnosticAccess(LONG lEcuObjectId,
                                                              LONG lSessionNumber, LONG* lResult) {
    return WithResult(lResult, [&](int32_t* out) {
        return core_.DbrSetPredefinedDiagnosticAccess(lEcuObjectId, lSessionNumber, out);
    });
}

HRESULT ComCommandInterface::DbrSingleRequest(LONG lEcuObjectId, BSTR strRequest, BSTR* strResponse,
                                              LONG* lResult) {
    return DbrExtSingleRequest(lEcuObjectId, 0, strRequest, strResponse, lResult);
}

HRESULT ComCommandInterface::DbrExtSingleRequest(LONG lEcuObjectId, LONG lAdressMode,
                                                 BSTR strRequest, BSTR* strResponse,
                                                 LONG* lResult) {
    return WithTextAndResult(strResponse, lResult, [&](std::string* text, int32_t* out) {
        return core_.DbrExtSingleRequest(lEcuObjectId, lAdressMode, FromBstr(strRequest), text,
                                         out);
    });
}

HRESULT ComCommandInterface::_DbrSingleRequest(LONG lEcuObjectId, unsigned char* uRequest,
                                               LONG lNumberOfBytes, unsigned char* uResponse,
                                               LONG* lResult) {
    return _DbrExtSingleRequest(lEcuObjectId, 0, uRequest, lNumberOfBytes, uResponse, lResult);
}

HRESULT ComCommandInterface::_DbrExtSingleRequest(LONG lEcuObjectId, LONG lAdressMode,
                                                  unsigned char* uRequest, LONG lNumberOfBytes,
                                                  unsigned char* uResponse, LONG* lResult) {
    const HRESULT checked = CheckByteBuffers(uRequest, lNumberOfBytes, uResponse, lResult);
    if (FAILED(checked)) return checked;
    return WithResult(lResult, [&](int32_t* out) {
        return core_._DbrExtSingleRequest(lEcuObjectId, lAdressMode, uRequest, lNumberOfBytes,
                                          uResponse, out);
    });
}

HRESULT ComCommandInterface::DbrUpload(LONG lEcuObjectId, BSTR strHeader, BSTR* strUpload,
                                       LONG* lResult) {
    return WithTextAndResult(strUpload, lResult, [&](std::string* text, int32_t* out) {
        return core_.DbrUpload(lEcuObjectId, FromBstr(strHeader), text, out);
    });
}

HRESULT ComCommandInterface::DbrDownload(LONG lEcuObjectId, LONG lType, BSTR strHexData,
                                         LONG* lResult) {
    return WithResult(lResult, [&](int32_t* out) {
        return core_.DbrDownload(lEcuObjectId, lType, FromBstr(strHexData), out);
    });
}

HRESULT ComCommandInterface::DbrJob(LONG lEcuObjectId, BSTR strJob, LONG* lResult) {
    return WithResult(
        lResult, [&](int32_t* out) { return core_.DbrJob(lEcuObjectId, FromBstr(strJob), out); });
}

HRESULT ComCommandInterface::DbrGetIdent(LONG lEcuObjectId, BSTR* strIdent, LONG* lResult) {
    return WithTextAndResult(strIdent, lResult, [&](std::string* text, int32_t* out) {
        return core_.DbrGetIdent(lEcuObjectId, text, out);
    });
}

HRESULT ComCommandInterface::_DbrGetVersion(LONG lCommunicationObjectId, BSTR* strVersion) {
    if (strVersion == nullptr) return E_POINTER;
    *strVersion = nullptr;
    std::string version;
    const int32_t hr = core_._DbrGetVersion(lCommunicationObjectId, &version);
    return WithText(hr, version, strVersion);
}

}  // namespace diagbridge::com
