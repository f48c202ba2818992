#pragma once
#include <string>
#include <vector>

namespace diagbridge::cli {

// The built-in session: starts a virtual ECU in this process, runs the embedded shell script
// against it and prints what the shell prints. Returns the exit code.
int RunDemo(const std::vector<std::string>& args);

// The embedded script of the UDS session.
const char* UdsDemoScript();

}  // namespace diagbridge::cli
