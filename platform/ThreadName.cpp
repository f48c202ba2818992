#include "platform/ThreadName.h"

#ifndef _WIN32
#include <pthread.h>

#include <cstring>
#endif

namespace diagbridge::platform {

#ifdef _WIN32
void NameThisThread(const char*) {}
#else
namespace {
constexpr size_t kMaxNameLength = 15;  // without the terminating zero
}

void NameThisThread(const char* name) {
    char shortened[kMaxNameLength + 1] = {};
    std::strncpy(shortened, name, kMaxNameLength);
    pthread_setname_np(pthread_self(), shortened);
}
#endif

}  // namespace diagbridge::platform
