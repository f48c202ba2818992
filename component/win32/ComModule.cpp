#include "component/win32/ComModule.h"

#include <oleauto.h>

#include <atomic>
#include <map>
#include <mutex>

namespace diagbridge::com {

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof a) < 0; }
};

std::mutex& CacheMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<GUID, ITypeInfo*, GuidLess>& TypeInfoCache() {
    static std::map<GUID, ITypeInfo*, GuidLess> cache;
    return cache;
}

void ReleaseTypeInfoCache() {
    std::lock_guard lock(CacheMutex());
    for (auto& entry : TypeInfoCache()) entry.second->Release();
    TypeInfoCache().clear();
}

}  // namespace

HMODULE ModuleHandle() {
    return g_module;
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L"";
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void ObjectCreated() {
    ++g_objects;
}

void ObjectDestroyed() {
    --g_objects;
}

void LockModule(bool lock) {
    if (lock) {
        ++g_locks;
    } else {
        --g_locks;
    }
}

bool ModuleInUse() {
    return g_objects.load() > 0 || g_locks.load() > 0;
}

HRESULT LoadModuleTypeLib(ITypeLib** lib) {
    if (lib == nullptr) return E_POINTER;
    *lib = nullptr;
    const std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib);
}

HRESULT CachedTypeInfo(const GUID& id, ITypeInfo** info) {
    std::lock_guard lock(CacheMutex());
    auto found = TypeInfoCache().find(id);
    if (found != TypeInfoCache().end()) {
        *info = found->second;
        return S_OK;
    }
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadModuleTypeLib(&lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(id, info);
    lib->Release();
    if (SUCCEEDED(hr)) TypeInfoCache()[id] = *info;
    return hr;
}

}  // namespace diagbridge::com

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        diagbridge::com::g_module = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Only on FreeLibrary: at process exit other DLLs may already be gone.
        diagbridge::com::ReleaseTypeInfoCache();
    }
    return TRUE;
}
