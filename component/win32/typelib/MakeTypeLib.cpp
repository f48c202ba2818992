// Writes the type library "DiagBridgeV4Lib" through ICreateTypeLib2 (run under Windows or
// Wine): MakeTypeLib <output.tlb> win32|win64.
#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "component/win32/ComIds.h"
#include "component/win32/TypeLibLayout.h"

namespace {

using namespace diagbridge::com;

// Stops at the first failing call, naming it.
#define CHECK(call)                                                                               \
    do {                                                                                          \
        const HRESULT hr_ = (call);                                                               \
        if (FAILED(hr_)) {                                                                        \
            std::fprintf(stderr, "%s failed: 0x%08lx\n", #call, static_cast<unsigned long>(hr_)); \
            return hr_;                                                                           \
        }                                                                                         \
    } while (0)

// The type descriptions every parameter type points into (they outlive AddFuncDesc).
TYPEDESC kByteDesc{{nullptr}, VT_UI1};
TYPEDESC kBstrDesc{{nullptr}, VT_BSTR};
TYPEDESC kLongDesc{{nullptr}, VT_I4};

TYPEDESC DescribeType(ParamType type) {
    TYPEDESC desc{};
    switch (type) {
        case ParamType::Long:
            desc.vt = VT_I4;
            break;
        case ParamType::Short:
            desc.vt = VT_I2;
            break;
        case ParamType::Bool:
            desc.vt = VT_BOOL;
            break;
        case ParamType::Bstr:
            desc.vt = VT_BSTR;
            break;
        case ParamType::BytePtr:
            desc.vt = VT_PTR;
            desc.lptdesc = &kByteDesc;
            break;
        case ParamType::BstrPtr:
            desc.vt = VT_PTR;
            desc.lptdesc = &kBstrDesc;
            break;
        case ParamType::LongPtr:
            desc.vt = VT_PTR;
            desc.lptdesc = &kLongDesc;
            break;
    }
    return desc;
}

HRESULT AddMethod(ICreateTypeInfo* info, UINT index, const MethodLayout& method, FUNCKIND kind) {
    ELEMDESC params[kMaxParams] = {};
    for (int i = 0; i < method.paramCount; ++i) {
        params[i].tdesc = DescribeType(method.params[i].type);
        params[i].paramdesc.wParamFlags = method.params[i].flags;
    }
    FUNCDESC desc{};
    desc.memid = method.dispId;
    desc.funckind = kind;
    desc.invkind = INVOKE_FUNC;
    desc.callconv = CC_STDCALL;
    desc.cParams = static_cast<SHORT>(method.paramCount);
    desc.lprgelemdescParam = params;
    desc.elemdescFunc.tdesc.vt = VT_HRESULT;
    CHECK(info->AddFuncDesc(index, &desc));
    LPOLESTR names[kMaxParams + 1] = {const_cast<LPOLESTR>(method.name)};
    for (int i = 0; i < method.paramCount; ++i) {
        names[i + 1] = const_cast<LPOLESTR>(method.params[i].name);
    }
    CHECK(info->SetFuncAndParamNames(index, names, static_cast<UINT>(method.paramCount + 1)));
    CHECK(info->SetFuncDocString(index, const_cast<LPOLESTR>(method.help)));
    return S_OK;
}

template <size_t N>
HRESULT AddMethods(ICreateTypeInfo* info, const MethodLayout (&methods)[N], FUNCKIND kind) {
    for (UINT i = 0; i < N; ++i) CHECK(AddMethod(info, i, methods[i], kind));
    return S_OK;
}

HRESULT AddBase(ICreateTypeInfo* info, ITypeInfo* base, UINT index, INT flags) {
    HREFTYPE ref = 0;
    CHECK(info->AddRefTypeInfo(base, &ref));
    CHECK(info->AddImplType(index, ref));
    if (flags != 0) CHECK(info->SetImplTypeFlags(index, flags));
    return S_OK;
}

HRESULT Describe(ICreateTypeInfo* info, const GUID& id, WORD flags, const wchar_t* help) {
    CHECK(info->SetGuid(id));
    CHECK(info->SetTypeFlags(flags));
    if (help != nullptr) CHECK(info->SetDocString(const_cast<LPOLESTR>(help)));
    return S_OK;
}

HRESULT AsTypeInfo(ICreateTypeInfo* info, ITypeInfo** out) {
    return info->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(out));
}

struct Entries {
    ICreateTypeInfo* events = nullptr;
    ICreateTypeInfo* coclass = nullptr;
    ICreateTypeInfo* dual = nullptr;
    ICreateTypeInfo* container = nullptr;
    ICreateTypeInfo* containerClass = nullptr;
};

// Creates the entries in library order before filling any, so that coclasses can refer to
// interfaces that come after them.
HRESULT CreateEntries(ICreateTypeLib2* lib, Entries& e) {
    CHECK(lib->CreateTypeInfo(const_cast<LPOLESTR>(kEventsName), TKIND_DISPATCH, &e.events));
    CHECK(lib->CreateTypeInfo(const_cast<LPOLESTR>(kCoclassName), TKIND_COCLASS, &e.coclass));
    CHECK(lib->CreateTypeInfo(const_cast<LPOLESTR>(kInterfaceName), TKIND_INTERFACE, &e.dual));
    CHECK(lib->CreateTypeInfo(const_cast<LPOLESTR>(kContainerInterfaceName), TKIND_DISPATCH,
                              &e.container));
    CHECK(lib->CreateTypeInfo(const_cast<LPOLESTR>(kContainerCoclassName), TKIND_COCLASS,
                              &e.containerClass));
    return S_OK;
}

HRESULT FillEntries(const Entries& e, ITypeInfo* dispatch) {
    CHECK(Describe(e.events, kDiidICommandInterfaceEvents, kEventsFlags, kEventsHelp));
    CHECK(AddBase(e.events, dispatch, 0, 0));
    CHECK(AddMethods(e.events, kEventMethods, FUNC_DISPATCH));

    CHECK(Describe(e.dual, kIidICommandInterface, kInterfaceFlags, kInterfaceHelp));
    CHECK(AddBase(e.dual, dispatch, 0, 0));
    CHECK(AddMethods(e.dual, kInterfaceMethods, FUNC_PUREVIRTUAL));

    ITypeInfo* dual = nullptr;
    ITypeInfo* events = nullptr;
    CHECK(AsTypeInfo(e.dual, &dual));
    CHECK(AsTypeInfo(e.events, &events));
    CHECK(Describe(e.coclass, kClsidCommandInterface, kCoclassFlags, kCoclassHelp));
    CHECK(AddBase(e.coclass, dual, 0, IMPLTYPEFLAG_FDEFAULT));
    CHECK(AddBase(e.coclass, events, 1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
    // Adding a dual interface marks the coclass dispatchable; the library says creatable only.
    CHECK(e.coclass->SetTypeFlags(kCoclassFlags));
    dual->Release();
    events->Release();

    CHECK(Describe(e.container, kDiidIDeviceContainer1, kEventsFlags, nullptr));
    CHECK(AddBase(e.container, dispatch, 0, 0));
    ITypeInfo* container = nullptr;
    CHECK(AsTypeInfo(e.container, &container));
    CHECK(Describe(e.containerClass, kClsidDeviceContainer1, kCoclassFlags, nullptr));
    CHECK(AddBase(e.containerClass, container, 0, IMPLTYPEFLAG_FDEFAULT));
    container->Release();
    return S_OK;
}

HRESULT LayOutAll(const Entries& e) {
    for (ICreateTypeInfo* info : {e.events, e.coclass, e.dual, e.container, e.containerClass}) {
        CHECK(info->LayOut());
    }
    return S_OK;
}

void ReleaseAll(Entries& e) {
    for (ICreateTypeInfo* info : {e.events, e.coclass, e.dual, e.container, e.containerClass}) {
        if (info != nullptr) info->Release();
    }
}

HRESULT Write(const wchar_t* path, SYSKIND kind) {
    ITypeLib* stdole = nullptr;
    CHECK(LoadTypeLib(L"stdole2.tlb", &stdole));
    ITypeInfo* dispatch = nullptr;
    CHECK(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch));
    ICreateTypeLib2* lib = nullptr;
    CHECK(CreateTypeLib2(kind, path, &lib));
    CHECK(lib->SetGuid(kLibId));
    CHECK(lib->SetName(const_cast<LPOLESTR>(kLibName)));
    CHECK(lib->SetVersion(kLibMajor, kLibMinor));
    CHECK(lib->SetLcid(kLibLocale));
    CHECK(lib->SetDocString(const_cast<LPOLESTR>(kLibHelp)));
    Entries entries;
    HRESULT hr = CreateEntries(lib, entries);
    if (SUCCEEDED(hr)) hr = FillEntries(entries, dispatch);
    if (SUCCEEDED(hr)) hr = LayOutAll(entries);
    if (SUCCEEDED(hr)) hr = lib->SaveAllChanges();
    ReleaseAll(entries);
    lib->Release();
    dispatch->Release();
    stdole->Release();
    return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || (std::wcscmp(argv[2], L"win32") != 0 && std::wcscmp(argv[2], L"win64") != 0)) {
        std::fprintf(stderr, "usage: MakeTypeLib <output.tlb> win32|win64\n");
        return 2;
    }
    const SYSKIND kind = std::wcscmp(argv[2], L"win32") == 0 ? SYS_WIN32 : SYS_WIN64;
    if (FAILED(CoInitialize(nullptr))) return 1;
    const HRESULT hr = Write(argv[1], kind);
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
