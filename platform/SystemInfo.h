#pragma once
#include <string>

namespace diagbridge::platform {

// Login name of the calling thread's user; "unknown" when the system cannot tell.
std::string UserName();

// File name of the component as the client sees it ("DiagBridgeV4.dll" on Windows).
std::string ComponentFileName();

// The component's version string "<file name> <major>.<minor>.<patch>.<tweak>" from the build.
std::string VersionString();

// The machine-wide application-data folder with its path separator: "%ProgramData%\" on
// Windows, "/var/lib/" elsewhere.
std::string CommonAppDataFolder();
// The path separator of this platform.
char PathSeparator();

// Today's local date as "%Y-%m-%d".
std::string TodayIsoDate();
// The current local time in a strftime format ("%H:%M:%S"); at most 63 characters.
std::string LocalTimeText(const char* format);

}  // namespace diagbridge::platform
