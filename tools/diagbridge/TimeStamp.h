#pragma once
#include <string>

namespace diagbridge::cli {

// The wall clock now in UTC with milliseconds: "2026-12-10T14:03:07.125Z".
std::string TimeStamp();

}  // namespace diagbridge::cli
