#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/diagbridge/Connection.h"

namespace diagbridge::cli {

// Everything a task command was given on its command line.
struct TaskOptions {
    ConnectionOptions connection;
    std::string profile;  // section of the profile file
    std::string config;   // profile file; DIAGBRIDGE_CONFIG or ~/.config/diagbridge/profiles.ini
    bool json = false;
    bool quiet = false;
    std::string trace;     // trace events with time stamps
    std::string candump;   // every CAN frame, candump -L format
    std::string klineLog;  // every serial byte with time and direction
    // Diagnostic access: a predefined session, or the explicit one (OEM id, mode, baud).
    int32_t session = -1;
    bool explicitAccess = false;
    int32_t oem = 0;
    int32_t mode = 0;
    int32_t accessBaud = 0;
    bool specialTiming = false;
    // Per command.
    std::vector<std::string> request;  // request bytes, hex
    bool functional = false;
    std::string header;  // upload header
    std::string file;    // flash: the HEX file
    int32_t type = 0;    // flash: download type
    std::string job;
};

// Runs command with options; returns the exit code. Output goes to standard output, one
// line of what went wrong to standard error.
int RunTask(const std::string& command, const TaskOptions& options);

// Finds ECUs. K-line: each serial adapter (the one given, else rs232 and skylink) with the
// model's address table. UDS: each distinct ECU address of the known models, connected and
// sent a tester present. Prints what answered; exit 0 when something did, else 1.
int RunScan(const TaskOptions& options);

}  // namespace diagbridge::cli
