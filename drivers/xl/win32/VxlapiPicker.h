#pragma once
#include <string>

namespace diagbridge::xl {

// Asks where vxlapi.dll is, offering initialPath; the chosen path, or empty when cancelled.
using VxlapiPicker = std::wstring (*)(const std::wstring& initialPath);

// Installs picker as the last step of finding the library (null: the file-open dialog);
// returns the previous one. For tests, which cannot answer a dialog.
VxlapiPicker SetVxlapiPicker(VxlapiPicker picker);

}  // namespace diagbridge::xl
