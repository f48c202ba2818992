#include <windows.h>

#include <shlobj.h>

#include <cstring>

#include "drivers/xl/XlSourceKinds.h"
#include "platform/Utf16.h"

namespace diagbridge::xl {

namespace {

constexpr wchar_t kInstalledPath[] = L"C:\\XL Driver Library\\bin\\vxlapi.dll";
constexpr wchar_t kCommonDocumentsPart[] = L"\\Vector XL Driver Library\\bin\\vxlapi.dll";
constexpr int kCommonDocuments = 0x2E;  // CSIDL_COMMON_DOCUMENTS

// Fills the table from the library's exports in table order; false when one is missing.
bool ResolveEntryPoints(HMODULE library, XlDriverTable& table) {
    static_assert(sizeof(XlDriverTable) == std::size(kEntryPointNames) * sizeof(FARPROC));
    FARPROC entries[std::size(kEntryPointNames)] = {};
    for (size_t i = 0; i < std::size(kEntryPointNames); ++i) {
        entries[i] = GetProcAddress(library, kEntryPointNames[i]);
        if (entries[i] == nullptr) return false;
    }
    std::memcpy(&table, entries, sizeof(table));
    return true;
}

std::shared_ptr<XlSource> FromLibrary(const std::string& selector, HMODULE library) {
    auto source = std::make_shared<XlSource>();
    if (library == nullptr || !ResolveEntryPoints(library, source->table)) {
        if (library != nullptr) FreeLibrary(library);
        return nullptr;
    }
    source->selector = selector;
    source->owner = std::shared_ptr<void>(
        library, [](void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); });
    return source;
}

}  // namespace

std::shared_ptr<XlSource> LoadVxlapiSource(const std::string& selector, std::string& failure) {
    std::wstring path = kInstalledPath;
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) {
        wchar_t folder[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, kCommonDocuments, nullptr, 0, folder))) {
            path = std::wstring(folder) + kCommonDocumentsPart;
            library = LoadLibraryW(path.c_str());
        }
    }
    SetDllDirectoryW(nullptr);
    failure = platform::Utf16ToUtf8(path);
    return FromLibrary(selector, library);
}

std::shared_ptr<XlSource> LoadDllSource(const std::string& selector, const std::string& path) {
    return FromLibrary(selector, LoadLibraryW(platform::Utf8ToUtf16(path).c_str()));
}

}  // namespace diagbridge::xl
