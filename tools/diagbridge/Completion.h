#pragma once
#include <string>

namespace CLI {
class App;
}

namespace diagbridge::cli {

// A bash completion script for diagbridge built from app's option table: commands, each
// command's options, adapter names, model and protocol keywords, file names for the file
// options and *.hex for flash.
std::string BashCompletion(const CLI::App& app);

}  // namespace diagbridge::cli
