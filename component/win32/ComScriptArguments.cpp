#include "component/win32/ComScriptArguments.h"

#include <oleauto.h>

namespace diagbridge::com {

namespace {
constexpr VARTYPE kVariantRef = VT_VARIANT | VT_BYREF;
}

ComScriptArguments::ComScriptArguments(const DISPPARAMS& params)
    : args_(params.rgvarg, params.rgvarg + params.cArgs), slots_(params.cArgs), params_(params) {
    params_.rgvarg = args_.data();
}

ComScriptArguments::~ComScriptArguments() {
    for (Slot& slot : slots_) SysFreeString(slot.text);
}

HRESULT ComScriptArguments::Adapt(const FUNCDESC& method, UINT* argumentError) {
    // Named arguments (property puts) are left to the standard dispatch.
    if (params_.cNamedArgs != 0) return S_OK;
    const UINT count = params_.cArgs < UINT(method.cParams) ? params_.cArgs : method.cParams;
    for (UINT p = 0; p < count; ++p) {
        const UINT index = params_.cArgs - 1 - p;  // the last parameter comes first
        const HRESULT hr = AdaptOne(method.lprgelemdescParam[p].tdesc, args_[index], slots_[index]);
        if (FAILED(hr)) {
            if (argumentError != nullptr) *argumentError = index;
            return hr;
        }
    }
    return S_OK;
}

HRESULT ComScriptArguments::AdaptOne(const TYPEDESC& param, VARIANT& arg, Slot& slot) {
    if (param.vt != VT_PTR || param.lptdesc == nullptr) return S_OK;
    const VARTYPE pointee = param.lptdesc->vt;
    if (pointee == VT_UI1) {
        return arg.vt == (VT_UI1 | VT_BYREF) ? S_OK : DISP_E_TYPEMISMATCH;
    }
    if (arg.vt != kVariantRef || arg.pvarVal == nullptr) return S_OK;
    if (pointee != VT_BSTR && pointee != VT_I4) return DISP_E_TYPEMISMATCH;
    slot.caller = arg.pvarVal;
    slot.type = pointee;
    VariantInit(&arg);
    if (pointee == VT_BSTR) {
        arg.vt = VT_BSTR | VT_BYREF;
        arg.pbstrVal = &slot.text;
    } else {
        arg.vt = VT_I4 | VT_BYREF;
        arg.plVal = &slot.number;
    }
    return S_OK;
}

void ComScriptArguments::WriteBack() {
    for (Slot& slot : slots_) {
        if (slot.caller == nullptr) continue;
        VariantClear(slot.caller);
        slot.caller->vt = slot.type;
        if (slot.type == VT_BSTR) {
            slot.caller->bstrVal = slot.text;
            slot.text = nullptr;  // the caller owns it now
        } else {
            slot.caller->lVal = slot.number;
        }
    }
}

}  // namespace diagbridge::com
