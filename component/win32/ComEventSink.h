#pragma once
#include <windows.h>

#include <oaidl.h>

#include <memory>

#include "component/ICommandInterfaceEvents.h"

namespace diagbridge::com {

// One client sink of _ICommandInterfaceEvents, called late-bound through its IDispatch on the
// worker thread that raises the event (no marshalling, as for an apartment-threaded source).
class ComEventSink final : public ICommandInterfaceEvents,
                           public std::enable_shared_from_this<ComEventSink> {
  public:
    explicit ComEventSink(IDispatch* sink);  // adds a reference
    ~ComEventSink() override;                // releases it
    ComEventSink(const ComEventSink&) = delete;
    ComEventSink& operator=(const ComEventSink&) = delete;

    int32_t DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                               const std::string& strInfo) override;
    int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) override;
    int32_t DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) override;

  private:
    // Invokes dispId with the arguments, last parameter first in args.
    HRESULT Fire(DISPID dispId, VARIANT* args, UINT count);

    IDispatch* sink_;
};

}  // namespace diagbridge::com
