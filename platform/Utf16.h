#pragma once
#include <string>

namespace diagbridge::platform {

// UTF-8 <-> UTF-16 for the Windows boundary; invalid sequences become U+FFFD.
std::wstring Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::wstring& text);

}  // namespace diagbridge::platform
