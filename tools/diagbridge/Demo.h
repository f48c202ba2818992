#pragma once
#include <string>
#include <vector>

namespace diagbridge::cli {

// The built-in sessions: each starts a virtual ECU in this process, runs its embedded shell
// script against it and prints what the shell prints. Arguments: [--json]
// [--protocol uds|kline|t40|kalidor|samtec|all] (default all: UDS on an in-process CAN bus,
// then KWP2000 on a K-line pseudo-terminal, then a T40 and two Kalidor controllers on
// pseudo-terminals; samtec: the UDS session through the SamDiaX substitute). Returns the
// exit code.
int RunDemo(const std::vector<std::string>& args);

// The embedded scripts; create is the parameter string of the UDS communication object.
std::string UdsDemoScript(const std::string& create);
std::string KlineDemoScript();
const char* T40DemoScript();
const char* KalidorDemoScript();

}  // namespace diagbridge::cli
