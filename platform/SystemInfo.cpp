#include "platform/SystemInfo.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "BuildVersion.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/Utf16.h"
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace diagbridge::platform {

namespace {
constexpr const char* kUnknownUser = "unknown";
}

std::string UserName() {
#ifdef _WIN32
    wchar_t buffer[510];
    DWORD size = sizeof(buffer) / sizeof(buffer[0]);
    if (!GetUserNameW(buffer, &size) || size == 0) return kUnknownUser;
    return Utf16ToUtf8(std::wstring(buffer, size - 1));
#else
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        return found->pw_name;
    }
    return kUnknownUser;
#endif
}

std::string ComponentFileName() {
#ifdef _WIN32
    return "DiagBridgeV4.dll";
#else
    return "libdiagbridge.so";
#endif
}

std::string VersionString() {
    char text[160];
    std::snprintf(text, sizeof(text), "%s %d.%d.%d.%d", ComponentFileName().c_str(),
                  DIAGBRIDGE_VERSION_MAJOR, DIAGBRIDGE_VERSION_MINOR, DIAGBRIDGE_VERSION_PATCH,
                  DIAGBRIDGE_VERSION_TWEAK);
    return text;
}

std::string LocalTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[64];
    if (std::strftime(text, sizeof(text), format, &local) == 0) return {};
    return text;
}

std::string TodayIsoDate() {
    return LocalTimeText("%Y-%m-%d");
}

char PathSeparator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

std::string CommonAppDataFolder() {
#ifdef _WIN32
    const char* folder = std::getenv("ProgramData");
    return std::string(folder == nullptr ? "C:\\ProgramData" : folder) + PathSeparator();
#else
    return "/var/lib/";
#endif
}

}  // namespace diagbridge::platform
