#pragma once
#include <cstdint>
#include <string>

namespace diagbridge {

// Where a communication object's events go (the command interface's connection point).
// Called on the worker thread.
class IServiceEvents {
  public:
    virtual ~IServiceEvents() = default;
    virtual void FireProgress(int16_t blockId, int16_t progress, const std::string& info) = 0;
    virtual void FireStatus(int32_t status, const std::string& text) = 0;
    virtual void FireTrace(int32_t traceId, const std::string& trace) = 0;
};

}  // namespace diagbridge
