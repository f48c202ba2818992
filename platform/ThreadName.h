#pragma once

namespace diagbridge::platform {

// Names the calling thread for tools that list threads (/proc, debuggers, perf); the system
// keeps the first 15 characters. Nothing happens where threads cannot be named.
void NameThisThread(const char* name);

}  // namespace diagbridge::platform
