#include "component/win32/ComStrings.h"

#include "platform/Utf16.h"

namespace diagbridge::com {

std::string FromBstr(BSTR text) {
    if (text == nullptr) return {};
    return platform::Utf16ToUtf8(std::wstring(text, SysStringLen(text)));
}

HRESULT ToBstr(const std::string& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    const std::wstring wide = platform::Utf8ToUtf16(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace diagbridge::com
