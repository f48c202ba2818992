#pragma once
#include <windows.h>

#include <oleauto.h>

#include <string>

// BSTR <-> UTF-8 at the COM boundary; inside, every text is UTF-8.
namespace diagbridge::com {

// A null BSTR is the empty string, as every automation client treats it.
std::string FromBstr(BSTR text);
// A fresh BSTR of text in *out; E_POINTER for a null out, E_OUTOFMEMORY when it cannot be
// allocated (*out is then null).
HRESULT ToBstr(const std::string& text, BSTR* out);

}  // namespace diagbridge::com
