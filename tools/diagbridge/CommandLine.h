#pragma once

namespace diagbridge::cli {

// The whole command line of diagbridge: parses argv with one option table (which also
// gives --help and the bash completion) and runs the command; returns the exit code.
int RunCommandLine(int argc, char** argv);

}  // namespace diagbridge::cli
