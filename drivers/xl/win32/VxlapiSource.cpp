#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "drivers/xl/XlSourceKinds.h"
#include "drivers/xl/win32/VxlapiPicker.h"
#include "platform/Utf16.h"

namespace diagbridge::xl {

namespace {

constexpr wchar_t kInstalledPath[] = L"C:\\XL Driver Library\\bin\\vxlapi.dll";
constexpr wchar_t kCommonDocumentsPart[] = L"\\Vector XL Driver Library\\bin\\vxlapi.dll";
constexpr int kCommonDocuments = 0x2E;  // CSIDL_COMMON_DOCUMENTS

// The file-open dialog: no filter, read-only box hidden, a prompt before overwriting.
std::wstring PickWithDialog(const std::wstring& initialPath) {
    std::vector<wchar_t> file(MAX_PATH, L'\0');
    initialPath.copy(file.data(), file.size() - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetOpenFileNameW(&dialog)) return L"";
    return file.data();
}

std::atomic<VxlapiPicker> g_picker{&PickWithDialog};

std::wstring CommonDocumentsPath() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, kCommonDocuments, nullptr, 0, folder))) {
        return kCommonDocumentsPart;
    }
    return std::wstring(folder) + kCommonDocumentsPart;
}

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

VxlapiPicker SetVxlapiPicker(VxlapiPicker picker) {
    return g_picker.exchange(picker != nullptr ? picker : &PickWithDialog);
}

// The installed place, then the common documents folder, then the user's choice (the
// common documents path again when the user cancels).
std::shared_ptr<XlSource> LoadVxlapiSource(const std::string& selector, std::string& failure) {
    std::wstring path = kInstalledPath;
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) {
        path = CommonDocumentsPath();
        library = LoadLibraryW(path.c_str());
    }
    if (library == nullptr) {
        const std::wstring chosen = g_picker.load()(path);
        if (!chosen.empty()) path = chosen;
        library = LoadLibraryW(path.c_str());
    }
    SetDllDirectoryW(nullptr);
    failure = platform::Utf16ToUtf8(path);
    return FromLibrary(selector, library);
}

std::shared_ptr<XlSource> LoadDllSource(const std::string& selector, const std::string& path) {
    return FromLibrary(selector, LoadLibraryW(platform::Utf8ToUtf16(path).c_str()));
}

}  // namespace diagbridge::xl
