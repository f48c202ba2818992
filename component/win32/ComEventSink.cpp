#include "component/win32/ComEventSink.h"

#include "component/win32/ComIds.h"
#include "component/win32/ComStrings.h"

namespace diagbridge::com {

namespace {

constexpr LCID kUserDefaultLocale = 0x400;

VARIANT Short(int16_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}

VARIANT Long(int32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// VT_EMPTY when the copy cannot be allocated; the caller then does not fire.
VARIANT String(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(ToBstr(text, &v.bstrVal))) v.vt = VT_BSTR;
    return v;
}

}  // namespace

ComEventSink::ComEventSink(IDispatch* sink) : sink_(sink) {
    sink_->AddRef();
}

ComEventSink::~ComEventSink() {
    sink_->Release();
}

HRESULT ComEventSink::Fire(DISPID dispId, VARIANT* args, UINT count) {
    // The client may unadvise this sink from inside its own handler.
    const auto keepAlive = shared_from_this();
    HRESULT hr = E_OUTOFMEMORY;
    if (args[0].vt == VT_BSTR) {
        DISPPARAMS params{args, nullptr, count, 0};
        hr = sink_->Invoke(dispId, IID_NULL, kUserDefaultLocale, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr);
    }
    for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
    return hr;
}

int32_t ComEventSink::DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                                         const std::string& strInfo) {
    VARIANT args[] = {String(strInfo), Short(iProgress), Short(iBlockId)};
    return Fire(kDispIdProgress, args, 3);
}

int32_t ComEventSink::DbrStatusMessage(int32_t lStatus, const std::string& strStatus) {
    VARIANT args[] = {String(strStatus), Long(lStatus)};
    return Fire(kDispIdStatus, args, 2);
}

int32_t ComEventSink::DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) {
    VARIANT args[] = {String(strTrace), Long(lTraceId)};
    return Fire(kDispIdTrace, args, 2);
}

}  // namespace diagbridge::com
