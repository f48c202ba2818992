#pragma once
#include <string>
#include <vector>

namespace diagbridge::cli {

// The built-in session: runs the embedded shell script against the component and prints
// what the shell prints. Returns the exit code.
int RunDemo(const std::vector<std::string>& args);

// The embedded script.
const char* DemoScript();

}  // namespace diagbridge::cli
