// Reads a type library back (a .tlb or a DLL holding it as resource 1) and checks it against
// the layout the component promises: TypeLibCheck <file> win32|win64.
#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "LateBound.h"
#include "component/win32/ComIds.h"
#include "component/win32/TypeLibLayout.h"

using namespace diagbridge::com;
using wine_tests::Check;
using wine_tests::Narrow;

namespace {

std::string Name(const std::wstring& name) {
    return Narrow(name.c_str());
}

std::wstring Documentation(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    BSTR help = nullptr;
    info->GetDocumentation(id, &name, &help, nullptr, nullptr);
    std::wstring text = help == nullptr ? L"" : help;
    SysFreeString(name);
    SysFreeString(help);
    return text;
}

std::wstring EntryName(ITypeInfo* info) {
    BSTR name = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    std::wstring text = name == nullptr ? L"" : name;
    SysFreeString(name);
    return text;
}

bool TypeMatches(const TYPEDESC& desc, ParamType type) {
    const auto pointsTo = [&desc](VARTYPE vt) {
        return desc.vt == VT_PTR && desc.lptdesc != nullptr && desc.lptdesc->vt == vt;
    };
    switch (type) {
        case ParamType::Long:
            return desc.vt == VT_I4;
        case ParamType::Short:
            return desc.vt == VT_I2;
        case ParamType::Bool:
            return desc.vt == VT_BOOL;
        case ParamType::Bstr:
            return desc.vt == VT_BSTR;
        case ParamType::BytePtr:
            return pointsTo(VT_UI1);
        case ParamType::BstrPtr:
            return pointsTo(VT_BSTR);
        case ParamType::LongPtr:
            return pointsTo(VT_I4);
    }
    return false;
}

// The base (impl type 0) is IDispatch of stdole.
bool DerivesFromIDispatch(ITypeInfo* info) {
    HREFTYPE ref = 0;
    ITypeInfo* base = nullptr;
    if (FAILED(info->GetRefTypeOfImplType(0, &ref)) || FAILED(info->GetRefTypeInfo(ref, &base))) {
        return false;
    }
    TYPEATTR* attributes = nullptr;
    base->GetTypeAttr(&attributes);
    const bool ok = attributes != nullptr && IsEqualGUID(attributes->guid, IID_IDispatch);
    if (attributes != nullptr) base->ReleaseTypeAttr(attributes);
    base->Release();
    return ok;
}

// Functions of IUnknown and IDispatch carry member ids from 0x60000000 on.
constexpr MEMBERID kFirstInheritedMemberId = 0x60000000;

// The description of the function with member id, or null.
FUNCDESC* FindFunction(ITypeInfo* info, MEMBERID id) {
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
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

// The methods of entry, found by DISPID; the functions inherited from IDispatch that a
// reader may list with them are not counted.
template <size_t N>
void CheckMethods(ITypeInfo* info, const MethodLayout (&methods)[N], const std::string& entry) {
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    std::vector<MEMBERID> own;
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC* desc = nullptr;
        info->GetFuncDesc(i, &desc);
        if (desc->memid < kFirstInheritedMemberId) own.push_back(desc->memid);
        info->ReleaseFuncDesc(desc);
    }
    info->ReleaseTypeAttr(attributes);
    Check(own.size() == N, entry + " has " + std::to_string(N) + " methods of its own (found " +
                               std::to_string(own.size()) + ")");
    for (UINT i = 0; i < N && i < own.size(); ++i) {
        Check(own[i] == methods[i].dispId,
              entry + " lists " + Name(methods[i].name) + " in its place");
    }
    for (const MethodLayout& method : methods) {
        FUNCDESC* desc = FindFunction(info, method.dispId);
        if (desc == nullptr) {
            Check(false, entry + "." + Name(method.name) + " is found by its DISPID");
            continue;
        }
        BSTR names[kMaxParams + 1] = {};
        UINT count = 0;
        info->GetNames(desc->memid, names, kMaxParams + 1, &count);
        bool ok = count == UINT(method.paramCount + 1) && std::wcscmp(names[0], method.name) == 0 &&
                  desc->cParams == method.paramCount && desc->elemdescFunc.tdesc.vt == VT_HRESULT &&
                  Documentation(info, desc->memid) == method.help;
        for (int p = 0; ok && p < method.paramCount; ++p) {
            const ELEMDESC& param = desc->lprgelemdescParam[p];
            ok = std::wcscmp(names[p + 1], method.params[p].name) == 0 &&
                 TypeMatches(param.tdesc, method.params[p].type) &&
                 (param.paramdesc.wParamFlags &
                  (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) == method.params[p].flags;
        }
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        char found[96];
        std::snprintf(found, sizeof found, " (returns vt %d, %d parameters)",
                      desc->elemdescFunc.tdesc.vt, desc->cParams);
        Check(ok, entry + "." + Name(method.name) + " has DISPID " + std::to_string(method.dispId) +
                      ", its parameters and help string" + found);
        info->ReleaseFuncDesc(desc);
    }
}

void CheckEntry(ITypeLib* lib, UINT index, const wchar_t* name, TYPEKIND kind, const GUID& id,
                WORD flags, const wchar_t* help) {
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfo(index, &info))) {
        Check(false, "entry " + std::to_string(index) + " exists");
        return;
    }
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    const std::wstring found = Documentation(info, MEMBERID_NIL);
    Check(EntryName(info) == name && attributes->typekind == kind &&
              IsEqualGUID(attributes->guid, id) && attributes->wTypeFlags == flags &&
              found == (help == nullptr ? L"" : help),
          "entry " + std::to_string(index) + " is " + Name(name) + " (kind " +
              std::to_string(attributes->typekind) + ", flags " +
              std::to_string(attributes->wTypeFlags) + ", help \"" + Name(found) + "\")");
    info->ReleaseTypeAttr(attributes);
    info->Release();
}

ITypeInfo* Entry(ITypeLib* lib, UINT index) {
    ITypeInfo* info = nullptr;
    lib->GetTypeInfo(index, &info);
    return info;
}

void CheckCoclass(ITypeLib* lib, UINT index, const GUID& defaultInterface,
                  const GUID* defaultSource) {
    ITypeInfo* coclass = Entry(lib, index);
    const auto implemented = [coclass](UINT i, GUID* id, INT* flags) {
        HREFTYPE ref = 0;
        ITypeInfo* info = nullptr;
        if (FAILED(coclass->GetImplTypeFlags(i, flags)) ||
            FAILED(coclass->GetRefTypeOfImplType(i, &ref)) ||
            FAILED(coclass->GetRefTypeInfo(ref, &info))) {
            return false;
        }
        TYPEATTR* attributes = nullptr;
        info->GetTypeAttr(&attributes);
        *id = attributes->guid;
        info->ReleaseTypeAttr(attributes);
        info->Release();
        return true;
    };
    GUID id{};
    INT flags = 0;
    Check(implemented(0, &id, &flags) && IsEqualGUID(id, defaultInterface) &&
              flags == IMPLTYPEFLAG_FDEFAULT,
          "coclass " + Name(EntryName(coclass)) + ": default interface");
    if (defaultSource != nullptr) {
        Check(implemented(1, &id, &flags) && IsEqualGUID(id, *defaultSource) &&
                  flags == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE),
              "coclass " + Name(EntryName(coclass)) + ": default source");
    }
    coclass->Release();
}

void CheckLibrary(ITypeLib* lib, SYSKIND kind) {
    TLIBATTR* attributes = nullptr;
    lib->GetLibAttr(&attributes);
    BSTR name = nullptr;
    BSTR help = nullptr;
    lib->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    Check(IsEqualGUID(attributes->guid, kLibId) && attributes->lcid == kLibLocale &&
              attributes->wMajorVerNum == kLibMajor && attributes->wMinorVerNum == kLibMinor &&
              attributes->syskind == kind && std::wcscmp(name, kLibName) == 0 &&
              std::wcscmp(help, kLibHelp) == 0,
          "library DiagBridgeV4Lib 1.0, locale 0x409, its id, system kind and help string");
    SysFreeString(name);
    SysFreeString(help);
    lib->ReleaseTLibAttr(attributes);
    Check(lib->GetTypeInfoCount() == kEntryCount, "five entries");
    if (lib->GetTypeInfoCount() != kEntryCount) return;

    CheckEntry(lib, kEventsIndex, kEventsName, TKIND_DISPATCH, kDiidICommandInterfaceEvents,
               kEventsFlags, kEventsHelp);
    CheckEntry(lib, kCoclassIndex, kCoclassName, TKIND_COCLASS, kClsidCommandInterface,
               kCoclassFlags, kCoclassHelp);
    // The dispatch half of a dual interface does not carry the OLE automation flag; the
    // vtable half does (checked below).
    CheckEntry(lib, kInterfaceIndex, kInterfaceName, TKIND_DISPATCH, kIidICommandInterface,
               kInterfaceFlags & ~TYPEFLAG_FOLEAUTOMATION, kInterfaceHelp);
    CheckEntry(lib, kContainerInterfaceIndex, kContainerInterfaceName, TKIND_DISPATCH,
               kDiidIDeviceContainer1, kEventsFlags, nullptr);
    CheckEntry(lib, kContainerCoclassIndex, kContainerCoclassName, TKIND_COCLASS,
               kClsidDeviceContainer1, kCoclassFlags, nullptr);

    ITypeInfo* events = Entry(lib, kEventsIndex);
    Check(DerivesFromIDispatch(events), "_ICommandInterfaceEvents derives from IDispatch");
    CheckMethods(events, kEventMethods, "_ICommandInterfaceEvents");
    events->Release();

    ITypeInfo* dual = Entry(lib, kInterfaceIndex);
    HREFTYPE vtableRef = 0;
    ITypeInfo* vtable = nullptr;
    if (SUCCEEDED(dual->GetRefTypeOfImplType(-1, &vtableRef)) &&
        SUCCEEDED(dual->GetRefTypeInfo(vtableRef, &vtable))) {
        TYPEATTR* vtableAttributes = nullptr;
        vtable->GetTypeAttr(&vtableAttributes);
        Check(vtableAttributes->typekind == TKIND_INTERFACE &&
                  vtableAttributes->wTypeFlags == kInterfaceFlags,
              "ICommandInterface: dual, non-extensible, OLE automation, dispatchable");
        vtable->ReleaseTypeAttr(vtableAttributes);
        Check(DerivesFromIDispatch(vtable), "ICommandInterface derives from IDispatch");
        CheckMethods(vtable, kInterfaceMethods, "ICommandInterface");
        vtable->Release();
    } else {
        Check(false, "ICommandInterface has its vtable half");
    }
    dual->Release();

    CheckCoclass(lib, kCoclassIndex, kIidICommandInterface, &kDiidICommandInterfaceEvents);
    CheckCoclass(lib, kContainerCoclassIndex, kDiidIDeviceContainer1, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: TypeLibCheck <file.tlb|file.dll> win32|win64\n");
        return 2;
    }
    const SYSKIND kind = std::wcscmp(argv[2], L"win32") == 0 ? SYS_WIN32 : SYS_WIN64;
    if (FAILED(CoInitialize(nullptr))) return 1;
    ITypeLib* lib = nullptr;
    const HRESULT hr = LoadTypeLibEx(argv[1], REGKIND_NONE, &lib);
    Check(SUCCEEDED(hr), "the type library loads from " + Narrow(argv[1]));
    if (lib != nullptr) {
        CheckLibrary(lib, kind);
        lib->Release();
    }
    CoUninitialize();
    std::printf("type library: %d failed\n", wine_tests::Failures());
    return wine_tests::Failures() == 0 ? 0 : 1;
}
