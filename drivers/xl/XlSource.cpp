#include "drivers/xl/XlSource.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "drivers/xl/VirtualCanBus.h"
#include "drivers/xl/XlPortDriver.h"
#include "drivers/xl/XlSourceKinds.h"

namespace diagbridge::xl {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// After "kind:"; empty for a bare "kind".
std::string Argument(const std::string& selector, const std::string& kind) {
    if (selector.size() <= kind.size() + 1) return "";
    return selector.substr(kind.size() + 1);
}

bool IsKind(const std::string& selector, const std::string& kind) {
    return selector == kind || StartsWith(selector, kind + ":");
}

}  // namespace

std::shared_ptr<XlSource> MakePortSource(const std::string& selector, PortFactory factory) {
    const XlDriverTable* table = XlPortDriver::RegisterFactory(std::move(factory));
    if (table == nullptr) return nullptr;
    auto source = std::make_shared<XlSource>();
    source->selector = selector;
    source->table = *table;
    source->waitForEvent = &XlPortDriver::WaitForEvent;
    source->owner =
        std::shared_ptr<void>(nullptr, [table](void*) { XlPortDriver::ReleaseTable(table); });
    return source;
}

std::string XlSourceSelector() {
    const char* value = std::getenv(kXlSourceVariable);
    return value == nullptr || *value == '\0' ? kDefaultXlSource : value;
}

namespace {

std::shared_ptr<XlSource> LoadNew(const std::string& selector, std::string& failure) {
    failure = selector;
    if (IsKind(selector, "virtual")) {
        auto bus = VirtualCanBus::Named(Argument(selector, "virtual"));
        return MakePortSource(selector,
                              [bus](XLstatus&) { return std::make_shared<VirtualXlPort>(bus); });
    }
#ifdef _WIN32
    if (selector == "vxlapi") return LoadVxlapiSource(selector, failure);
    if (IsKind(selector, "dll")) {
        failure = Argument(selector, "dll");
        return LoadDllSource(selector, failure);
    }
#else
    if (IsKind(selector, "hub")) return LoadHubSource(selector, Argument(selector, "hub"));
    if (IsKind(selector, "slcan")) return LoadSlcanSource(selector, Argument(selector, "slcan"));
    if (IsKind(selector, "socketcan")) {
        return LoadSocketCanSource(selector, Argument(selector, "socketcan"));
    }
    if (IsKind(selector, "so")) {
        failure = Argument(selector, "so");
        return LoadSharedObjectSource(selector, failure);
    }
#endif
    return nullptr;
}

}  // namespace

// Channels naming the same source share it, as they would share one loaded library.
std::shared_ptr<XlSource> LoadXlSource(const std::string& selector, std::string& failure) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<XlSource>> loaded;
    std::lock_guard lock(mutex);
    if (auto source = loaded[selector].lock()) return source;
    auto source = LoadNew(selector, failure);
    if (source) loaded[selector] = source;
    return source;
}

}  // namespace diagbridge::xl
