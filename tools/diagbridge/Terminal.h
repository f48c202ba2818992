#pragma once
#include <cstdio>

namespace diagbridge::cli {

// True when out is an interactive terminal (progress is then drawn as a bar).
bool IsTerminal(FILE* out);

}  // namespace diagbridge::cli
