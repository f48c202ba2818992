#pragma once
#include <cstdint>
#include <string>

namespace diagbridge {

// A client's event sink. Events arrive on the communication objects' worker threads, not on
// the client's own; each returns an HRESULT (0 for success).
class ICommandInterfaceEvents {
  public:
    virtual ~ICommandInterfaceEvents() = default;
    // One step of a service: iBlockId groups the steps, iProgress is 0..100 %.
    virtual int32_t DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                                       const std::string& strInfo) = 0;
    // A status change: lStatus is the code, strStatus "Status: %d %s".
    virtual int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) = 0;
    // One request/response exchange; lTraceId is 0.
    virtual int32_t DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) = 0;
};

}  // namespace diagbridge
