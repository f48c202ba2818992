#include "component/win32/ComClassFactory.h"

#include "component/win32/ComCommandInterface.h"
#include "component/win32/ComIds.h"
#include "component/win32/ComModule.h"

namespace diagbridge::com {

HRESULT ComClassFactory::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
}

ULONG ComClassFactory::AddRef() {
    LockModule(true);
    return 2;
}

ULONG ComClassFactory::Release() {
    LockModule(false);
    return 1;
}

HRESULT ComClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return ComCommandInterface::Create(riid, object);
}

HRESULT ComClassFactory::LockServer(BOOL lock) {
    LockModule(lock != FALSE);
    return S_OK;
}

ComClassFactory& CommandInterfaceFactory() {
    static ComClassFactory factory;
    return factory;
}

}  // namespace diagbridge::com

using namespace diagbridge::com;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, kClsidCommandInterface)) return CLASS_E_CLASSNOTAVAILABLE;
    return CommandInterfaceFactory().QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() {
    return ModuleInUse() ? S_FALSE : S_OK;
}
