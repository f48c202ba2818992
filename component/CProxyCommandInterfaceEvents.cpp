#include "component/CProxyCommandInterfaceEvents.h"

namespace diagbridge {

uint32_t CProxyCommandInterfaceEvents::Advise(ICommandInterfaceEvents* sink) {
    if (sink == nullptr) return 0;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        if (sinks_[i] == nullptr) {
            sinks_[i] = sink;
            return static_cast<uint32_t>(i + 1);
        }
    }
    sinks_.push_back(sink);
    return static_cast<uint32_t>(sinks_.size());
}

int32_t CProxyCommandInterfaceEvents::Unadvise(uint32_t cookie) {
    std::lock_guard lock(mutex_);
    if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return -3;
    sinks_[cookie - 1] = nullptr;
    return 0;
}

void CProxyCommandInterfaceEvents::UnadviseAll() {
    std::lock_guard lock(mutex_);
    sinks_.clear();
}

template <typename Call>
int32_t CProxyCommandInterfaceEvents::FireToAll(const Call& call) {
    std::lock_guard lock(mutex_);
    int32_t result = 0;
    // Index walk, not iterators: a sink may advise or unadvise during its event.
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        if (ICommandInterfaceEvents* sink = sinks_[i]) result = call(*sink);
    }
    return result;
}

int32_t CProxyCommandInterfaceEvents::Fire_DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                                                              const std::string& strInfo) {
    return FireToAll([&](ICommandInterfaceEvents& sink) {
        return sink.DbrProgressMessage(iBlockId, iProgress, strInfo);
    });
}

int32_t CProxyCommandInterfaceEvents::Fire_DbrStatusMessage(int32_t lStatus,
                                                            const std::string& strStatus) {
    return FireToAll(
        [&](ICommandInterfaceEvents& sink) { return sink.DbrStatusMessage(lStatus, strStatus); });
}

int32_t CProxyCommandInterfaceEvents::Fire_DbrTraceMessage(int32_t lTraceId,
                                                           const std::string& strTrace) {
    return FireToAll(
        [&](ICommandInterfaceEvents& sink) { return sink.DbrTraceMessage(lTraceId, strTrace); });
}

}  // namespace diagbridge
