#pragma once
#include <windows.h>

#include <unknwn.h>

namespace diagbridge::com {

// The class object of CommandInterface. Static: it lives as long as the DLL; its references
// are server locks.
class ComClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // No aggregation.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

ComClassFactory& CommandInterfaceFactory();

}  // namespace diagbridge::com
