#include "tools/diagbridge/CommandLine.h"

int main(int argc, char** argv) {
    return diagbridge::cli::RunCommandLine(argc, argv);
}
