#pragma once
#include <windows.h>

#include <oaidl.h>

#include <string>

// The DLL's module state: its handle, the count of live objects and server locks that
// DllCanUnloadNow reads, and the type information loaded once from the embedded library.
namespace diagbridge::com {

HMODULE ModuleHandle();
// Full path of this DLL.
std::wstring ModulePath();

void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
// True while an object lives or a client holds a server lock.
bool ModuleInUse();

// The type library embedded as resource 1 (one reference added); null when it cannot load.
HRESULT LoadModuleTypeLib(ITypeLib** lib);
// Type information of the entry with this GUID, cached for the life of the module (no
// reference added; valid until the DLL unloads).
HRESULT CachedTypeInfo(const GUID& id, ITypeInfo** info);

}  // namespace diagbridge::com
