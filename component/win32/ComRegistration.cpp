#include "component/win32/ComRegistration.h"

#include <oleauto.h>

#include <cwchar>
#include <string>

#include "component/win32/ComIds.h"
#include "component/win32/ComModule.h"

// In oleaut32 since Windows Vista; the mingw-w64 headers do not declare them.
extern "C" {
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID locale,
                                      SYSKIND kind);
}

namespace diagbridge::com {

namespace {

constexpr LCID kSystemDefaultLocale = 0x800;
constexpr const wchar_t* kUserClasses = L"Software\\Classes\\";
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring GuidText(const GUID& id) {
    wchar_t text[40] = {};
    StringFromGUID2(id, text, 40);
    return text;
}

// Where class registrations go: HKCR machine-wide, HKCU\Software\Classes per user.
class ClassesRoot {
  public:
    explicit ClassesRoot(bool perUser)
        : root_(perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT),
          prefix_(perUser ? kUserClasses : L"") {}

    // Creates key path with its default value (none when value is null).
    HRESULT SetKey(const std::wstring& path, const wchar_t* value) const {
        return SetValue(path, nullptr, value);
    }

    // Creates key path and sets its value name (null: default) to text (null: none).
    HRESULT SetValue(const std::wstring& path, const wchar_t* name, const wchar_t* text) const {
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(root_, (prefix_ + path).c_str(), 0, nullptr, 0, KEY_WRITE,
                                         nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        if (text != nullptr) {
            const DWORD bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
            status =
                RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
        }
        RegCloseKey(key);
        return HRESULT_FROM_WIN32(status);
    }

    HRESULT DeleteTree(const std::wstring& path) const {
        const LSTATUS status = RegDeleteTreeW(root_, (prefix_ + path).c_str());
        if (status == ERROR_FILE_NOT_FOUND) return S_OK;
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        // RegDeleteTreeW empties the key; the key itself goes with RegDeleteKeyW.
        const LSTATUS deleted = RegDeleteKeyW(root_, (prefix_ + path).c_str());
        return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND
                   ? S_OK
                   : HRESULT_FROM_WIN32(deleted);
    }

  private:
    HKEY root_;
    std::wstring prefix_;
};

// Sets the thread locale to the system default for the registration, as ATL does.
class SystemLocaleScope {
  public:
    SystemLocaleScope() : previous_(GetThreadLocale()) { SetThreadLocale(kSystemDefaultLocale); }
    ~SystemLocaleScope() { SetThreadLocale(previous_); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

  private:
    LCID previous_;
};

std::wstring AppIdKey() {
    return L"AppID\\" + GuidText(kAppId);
}

std::wstring AppIdDllKey() {
    return std::wstring(L"AppID\\") + kAppIdDllName;
}

std::wstring ClassKey() {
    return L"CLSID\\" + GuidText(kClsidCommandInterface);
}

HRESULT RegisterAppId(const ClassesRoot& classes) {
    HRESULT hr = classes.SetKey(AppIdKey(), kAppName);
    if (SUCCEEDED(hr)) hr = classes.SetValue(AppIdDllKey(), L"AppID", GuidText(kAppId).c_str());
    return hr;
}

HRESULT RegisterProgId(const ClassesRoot& classes, const std::wstring& progId,
                       const wchar_t* currentVersion) {
    HRESULT hr = classes.SetKey(progId, kClassName);
    if (SUCCEEDED(hr)) {
        hr = classes.SetKey(progId + L"\\CLSID", GuidText(kClsidCommandInterface).c_str());
    }
    if (SUCCEEDED(hr) && currentVersion != nullptr) {
        hr = classes.SetKey(progId + L"\\CurVer", currentVersion);
    }
    return hr;
}

HRESULT RegisterClass(const ClassesRoot& classes, const std::wstring& dllPath) {
    HRESULT hr = RegisterProgId(classes, kProgId, nullptr);
    if (SUCCEEDED(hr)) hr = RegisterProgId(classes, kVersionIndependentProgId, kProgId);
    // The class key is written afresh, so that nothing of an older registration stays.
    const std::wstring key = ClassKey();
    if (SUCCEEDED(hr)) hr = classes.DeleteTree(key);
    if (SUCCEEDED(hr)) hr = classes.SetKey(key, kClassName);
    if (SUCCEEDED(hr)) hr = classes.SetKey(key + L"\\ProgID", kProgId);
    if (SUCCEEDED(hr)) {
        hr = classes.SetKey(key + L"\\VersionIndependentProgID", kVersionIndependentProgId);
    }
    if (SUCCEEDED(hr)) hr = classes.SetKey(key + L"\\Programmable", nullptr);
    if (SUCCEEDED(hr)) hr = classes.SetKey(key + L"\\InprocServer32", dllPath.c_str());
    if (SUCCEEDED(hr)) {
        hr = classes.SetValue(key + L"\\InprocServer32", L"ThreadingModel", kThreadingModel);
    }
    if (SUCCEEDED(hr)) hr = classes.SetKey(key + L"\\TypeLib", GuidText(kLibId).c_str());
    return hr;
}

HRESULT RegisterTypeLibrary(bool perUser, const std::wstring& dllPath) {
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadModuleTypeLib(&lib);
    if (FAILED(hr)) return hr;
    auto* path = const_cast<LPOLESTR>(dllPath.c_str());
    hr = perUser ? RegisterTypeLibForUser(lib, path, nullptr) : RegisterTypeLib(lib, path, nullptr);
    lib->Release();
    return hr;
}

// Absent registrations are no failure: unregistering twice succeeds.
HRESULT UnregisterTypeLibrary(bool perUser) {
    const HRESULT hr =
        perUser ? UnRegisterTypeLibForUser(kLibId, kLibMajor, kLibMinor, kLibLocale, kSysKind)
                : UnRegisterTypeLib(kLibId, kLibMajor, kLibMinor, kLibLocale, kSysKind);
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) return S_OK;
    return hr;
}

}  // namespace

HRESULT RegisterServer(bool perUser) {
    const std::wstring dllPath = ModulePath();
    if (dllPath.empty()) return HRESULT_FROM_WIN32(GetLastError());
    SystemLocaleScope locale;
    const ClassesRoot classes(perUser);
    HRESULT hr = RegisterAppId(classes);
    if (SUCCEEDED(hr)) hr = RegisterClass(classes, dllPath);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(perUser, dllPath);
    return hr;
}

HRESULT UnregisterServer(bool perUser) {
    SystemLocaleScope locale;
    const ClassesRoot classes(perUser);
    HRESULT first = S_OK;
    const auto keep = [&first](HRESULT hr) {
        if (SUCCEEDED(first) && FAILED(hr)) first = hr;
    };
    keep(classes.DeleteTree(kProgId));
    keep(classes.DeleteTree(kVersionIndependentProgId));
    keep(classes.DeleteTree(ClassKey()));
    keep(UnregisterTypeLibrary(perUser));
    keep(classes.DeleteTree(AppIdKey()));
    keep(classes.DeleteTree(AppIdDllKey()));
    return first;
}

}  // namespace diagbridge::com

namespace {

// DllInstall's command line "user" (first five characters, terminator included, any case).
bool IsPerUserCommand(LPCWSTR commandLine) {
    return commandLine != nullptr && _wcsnicmp(commandLine, L"user", 5) == 0;
}

}  // namespace

STDAPI DllRegisterServer() {
    return diagbridge::com::RegisterServer(false);
}

STDAPI DllUnregisterServer() {
    return diagbridge::com::UnregisterServer(false);
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    const bool perUser = IsPerUserCommand(commandLine);
    if (!install) return diagbridge::com::UnregisterServer(perUser);
    const HRESULT hr = diagbridge::com::RegisterServer(perUser);
    if (FAILED(hr)) diagbridge::com::UnregisterServer(perUser);
    return hr;
}
