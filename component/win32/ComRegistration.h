#pragma once
#include <windows.h>

namespace diagbridge::com {

// Writes the application id, the coclass with its ProgIDs and the type library, machine-wide
// (HKEY_CLASSES_ROOT) or for the current user (HKCU\Software\Classes); the first failure.
HRESULT RegisterServer(bool perUser);
// Removes what RegisterServer wrote; keys already gone are no failure.
HRESULT UnregisterServer(bool perUser);

}  // namespace diagbridge::com
