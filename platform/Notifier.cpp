#include "platform/Notifier.h"

#include <cstdio>
#include <mutex>

#ifdef _WIN32
#include <windows.h>

#include "platform/Utf16.h"
#endif

namespace diagbridge::platform {

namespace {
std::mutex& HandlerMutex() {
    static std::mutex mutex;
    return mutex;
}
ScopedNotifier::Handler& CurrentHandler() {
    static ScopedNotifier::Handler handler;
    return handler;
}

void ShowSystemMessage(const std::string& text) {
#ifdef _WIN32
    MessageBoxW(nullptr, Utf8ToUtf16(text).c_str(), L"DiagBridgeV4", MB_OK | MB_ICONERROR);
#else
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "diagbridge: %s\n", line.c_str());
#endif
}
}  // namespace

void Notify(const std::string& text) {
    ScopedNotifier::Handler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = CurrentHandler();
    }
    if (handler) {
        handler(text);
        return;
    }
    ShowSystemMessage(text);
}

ScopedNotifier::ScopedNotifier(Handler handler) {
    std::lock_guard lock(HandlerMutex());
    previous_ = std::move(CurrentHandler());
    CurrentHandler() = std::move(handler);
}

ScopedNotifier::~ScopedNotifier() {
    std::lock_guard lock(HandlerMutex());
    CurrentHandler() = std::move(previous_);
}

}  // namespace diagbridge::platform
