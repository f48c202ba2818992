#include "LateBound.h"

#include <climits>
#include <cstdio>

namespace wine_tests {

namespace {
std::atomic<int> g_failures{0};
}

int Failures() {
    return g_failures.load();
}

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++g_failures;
}

VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text == nullptr ? nullptr : SysAllocString(text);
    return v;
}

VARIANT Bool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT ByteRef(unsigned char* bytes) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI1 | VT_BYREF;
    v.pbVal = bytes;
    return v;
}

VARIANT TextRef(BSTR* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR | VT_BYREF;
    v.pbstrVal = text;
    return v;
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

HRESULT Call(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result,
             SCODE* exceptionCode) {
    DISPID id = 0;
    auto* member = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        EXCEPINFO exception{};
        UINT argumentError = 0;
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                            &exception, &argumentError);
        if (hr == DISP_E_EXCEPTION && exceptionCode != nullptr) *exceptionCode = exception.scode;
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    for (VARIANT& arg : args) {
        if ((arg.vt & VT_BYREF) == 0) VariantClear(&arg);
    }
    return hr;
}

LONG CallLong(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args) {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = Call(object, name, std::move(args), &result);
    if (FAILED(hr) || result.vt != VT_I4) {
        VariantClear(&result);
        return LONG_MIN;
    }
    return result.lVal;
}

HRESULT EventInterfaceOf(IDispatch* object, IID* iid, ITypeInfo** eventInfo) {
    ITypeInfo* info = nullptr;
    HRESULT hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr)) return hr;
    ITypeLib* lib = nullptr;
    UINT index = 0;
    hr = info->GetContainingTypeLib(&lib, &index);
    info->Release();
    if (FAILED(hr)) return hr;
    hr = E_NOINTERFACE;
    for (UINT i = 0; i < lib->GetTypeInfoCount() && FAILED(hr); ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
        ITypeInfo* coclass = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &coclass))) continue;
        TYPEATTR* attributes = nullptr;
        coclass->GetTypeAttr(&attributes);
        for (UINT j = 0; attributes != nullptr && j < attributes->cImplTypes; ++j) {
            INT flags = 0;
            HREFTYPE ref = 0;
            ITypeInfo* source = nullptr;
            coclass->GetImplTypeFlags(j, &flags);
            if (flags != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) continue;
            if (FAILED(coclass->GetRefTypeOfImplType(j, &ref)) ||
                FAILED(coclass->GetRefTypeInfo(ref, &source))) {
                continue;
            }
            TYPEATTR* sourceAttributes = nullptr;
            source->GetTypeAttr(&sourceAttributes);
            *iid = sourceAttributes->guid;
            source->ReleaseTypeAttr(sourceAttributes);
            *eventInfo = source;
            hr = S_OK;
        }
        if (attributes != nullptr) coclass->ReleaseTypeAttr(attributes);
        coclass->Release();
    }
    lib->Release();
    return hr;
}

EventSink::EventSink(const IID& iid, ITypeInfo* info, Behaviour behaviour)
    : iid_(iid), info_(info), behaviour_(behaviour) {}

HRESULT EventSink::QueryInterface(REFIID riid, void** object) {
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !IsEqualIID(riid, iid_)) {
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IDispatch*>(this);
    return S_OK;
}

ULONG EventSink::AddRef() {
    return ++references_;
}

ULONG EventSink::Release() {
    return --references_;  // lives on the test's stack
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

HRESULT EventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

void EventSink::Connect(IConnectionPoint* point, DWORD cookie) {
    point_ = point;
    cookie_ = cookie;
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                          UINT*) {
    BSTR name = nullptr;
    UINT count = 0;
    if (FAILED(info_->GetNames(id, &name, 1, &count)) || count != 1) return DISP_E_MEMBERNOTFOUND;
    const std::string event = Narrow(name);
    SysFreeString(name);
    const VARTYPE number = event == "DbrProgressMessage" ? VT_I2 : VT_I4;
    const UINT expected = event == "DbrProgressMessage" ? 3 : 2;
    const bool typesOk = params->cArgs == expected && params->rgvarg[0].vt == VT_BSTR &&
                         params->rgvarg[1].vt == number &&
                         params->rgvarg[expected - 1].vt == number;
    if (!typesOk) argumentTypesOk_ = false;
    {
        std::lock_guard lock(mutex_);
        events_[event].push_back(typesOk ? Narrow(params->rgvarg[0].bstrVal) : "");
    }
    if (behaviour_ == kFail) return E_FAIL;
    if (behaviour_ == kUnadviseOnFirst && point_ != nullptr) {
        IConnectionPoint* point = point_;
        point_ = nullptr;
        point->Unadvise(cookie_);
    }
    return S_OK;
}

int EventSink::Count(const std::string& event) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(events_[event].size());
}

std::vector<std::string> EventSink::Texts(const std::string& event) {
    std::lock_guard lock(mutex_);
    return events_[event];
}

}  // namespace wine_tests
