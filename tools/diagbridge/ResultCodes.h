#pragma once
#include <cstdint>
#include <string>

namespace diagbridge::cli {

// Exit codes of the task commands, one per kind of failure. The interface's own results
// -1..-7 exit with their magnitude.
enum ExitCode : int {
    kExitOk = 0,
    kExitNoAnswer = 1,        // -1: the ECU did not answer, communication failed
    kExitConnectionLost = 2,  // -2: connection lost, or the ECU is not the model named
    kExitRejected = 3,        // -3: a parameter the component rejected
    kExitNotPermitted = 4,    // -4: the model does not permit the service
    kExitTimeout = 5,         // -5: the service did not finish in time
    kExitAbandoned = 6,       // -6: the wait for the service was abandoned
    kExitNoAdapter = 7,       // -7: adapter or port missing, object not created
    kExitRefused = 8,         // the ECU refused a step (negative response, access, key)
    kExitUsage = 64,          // wrong command line, unknown model or option
    kExitBadHex = 65,         // the HEX file does not read (checksum, record)
    kExitNoFile = 66,         // a file named on the command line cannot be opened
    kExitInterrupted = 130,   // stopped by Ctrl-C
};

// Upper-case name of an interface result ("OK", "TIMEOUT", "NEGATIVE_RESPONSE", ...);
// "ERROR_<n>" for a negative code without a name, "OK" for every other non-negative one.
std::string ResultName(int32_t result);
// The result in words for people ("ECU did not answer").
std::string ResultMeaning(int32_t result);
// The exit code a task ends with after result.
int ExitCodeFor(int32_t result);

}  // namespace diagbridge::cli
