#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "component/ICommandInterfaceEvents.h"
#include "engine/IServiceEvents.h"

namespace diagbridge {

// The connection point for the event sinks: a growing array whose free entries are null.
// Events go to every sink in index order.
class CProxyCommandInterfaceEvents : public IServiceEvents {
  public:
    // Registers sink; returns its cookie (>= 1), or 0 for a null sink.
    uint32_t Advise(ICommandInterfaceEvents* sink);
    // Frees the entry of cookie; 0, or -3 for an unknown cookie. After it returns no event
    // reaches that sink.
    int32_t Unadvise(uint32_t cookie);
    void UnadviseAll();

    // Each returns the HRESULT of the last sink called (0 without sinks).
    int32_t Fire_DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                                    const std::string& strInfo);
    int32_t Fire_DbrStatusMessage(int32_t lStatus, const std::string& strStatus);
    int32_t Fire_DbrTraceMessage(int32_t lTraceId, const std::string& strTrace);

    void FireProgress(int16_t blockId, int16_t progress, const std::string& info) override {
        Fire_DbrProgressMessage(blockId, progress, info);
    }
    void FireStatus(int32_t status, const std::string& text) override {
        Fire_DbrStatusMessage(status, text);
    }
    void FireTrace(int32_t traceId, const std::string& trace) override {
        Fire_DbrTraceMessage(traceId, trace);
    }

  private:
    template <typename Call>
    int32_t FireToAll(const Call& call);

    // Recursive: a sink may unadvise from inside its own event.
    std::recursive_mutex mutex_;
    std::vector<ICommandInterfaceEvents*> sinks_;
};

}  // namespace diagbridge
