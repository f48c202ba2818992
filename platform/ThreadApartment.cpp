#include "platform/ThreadApartment.h"

#ifdef _WIN32
#include <windows.h>

#include <objbase.h>
#include <timeapi.h>
#endif

namespace diagbridge::platform {

#ifdef _WIN32
namespace {
constexpr UINT kTimerPeriodMs = 1;
}

ThreadApartment::ThreadApartment()
    : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ThreadApartment::~ThreadApartment() {
    if (joined_) CoUninitialize();
}

ScopedTimerResolution::ScopedTimerResolution()
    : raised_(timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR) {}

ScopedTimerResolution::~ScopedTimerResolution() {
    if (raised_) timeEndPeriod(kTimerPeriodMs);
}
#else
ThreadApartment::ThreadApartment() = default;
ThreadApartment::~ThreadApartment() = default;
ScopedTimerResolution::ScopedTimerResolution() = default;
ScopedTimerResolution::~ScopedTimerResolution() = default;
#endif

}  // namespace diagbridge::platform
