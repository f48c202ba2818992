#include <dlfcn.h>

#include <cstring>

#include "drivers/xl/XlSourceKinds.h"

namespace diagbridge::xl {

namespace {

// Fills the table from the library's exports in table order; false when one is missing.
bool ResolveEntryPoints(void* library, XlDriverTable& table) {
    static_assert(sizeof(XlDriverTable) == std::size(kEntryPointNames) * sizeof(void (*)()));
    void (*entries[std::size(kEntryPointNames)])() = {};
    for (size_t i = 0; i < std::size(kEntryPointNames); ++i) {
        void* symbol = dlsym(library, kEntryPointNames[i]);
        if (symbol == nullptr) return false;
        entries[i] = reinterpret_cast<void (*)()>(symbol);
    }
    std::memcpy(&table, entries, sizeof(table));
    return true;
}

}  // namespace

std::shared_ptr<XlSource> LoadSharedObjectSource(const std::string& selector,
                                                 const std::string& path) {
    if (path.empty()) return nullptr;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    auto source = std::make_shared<XlSource>();
    if (!ResolveEntryPoints(library, source->table)) {
        dlclose(library);
        return nullptr;
    }
    source->selector = selector;
    source->owner = std::shared_ptr<void>(library, [](void* handle) { dlclose(handle); });
    return source;
}

}  // namespace diagbridge::xl
