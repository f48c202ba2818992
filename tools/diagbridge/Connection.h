#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "component/ProtocolTable.h"

namespace diagbridge::cli {

// What the command line (or a profile) says about the controller and the way to it.
// Empty texts and a baud of 0 mean "not given".
struct ConnectionOptions {
    std::string protocol;              // protocol keyword; follows from the model when empty
    std::string ecu;                   // ECU type keyword ("T60.1")
    std::string adapter;               // rs232, skylink, vector, samtec
    std::string port;                  // COM port number or serial device path
    std::string bus;                   // CAN driver source ("hub:/tmp/bus", "virtual:x")
    int32_t baud = 0;                  // bit/s of the line or bus
    std::vector<std::string> options;  // KEY=VALUE parameter-string parts
};

// Values of a profile fill what the command line left empty; options add up.
void MergeProfile(const ConnectionOptions& profile, ConnectionOptions& options);

// Reads profile name from an INI-style text: "[name]" sections of "key = value" lines
// (protocol, ecu, adapter, port, bus, baud, option), "#" or ";" comments. False with a
// one-line error naming source and line for an unknown key or a missing section.
bool ReadProfile(const std::string& text, const std::string& source, const std::string& name,
                 ConnectionOptions& profile, std::string& error);

// How a connection is made through the command interface.
struct ConnectionPlan {
    std::string protocol;                // keyword of the communication object
    std::string communicationParameter;  // DbrCreateCommunicationObject
    std::string ecuParameter;            // DbrCreateEcuObject
    std::vector<std::pair<std::string, std::string>> environment;  // set before creation
    std::string where;  // the adapter in words, for messages ("COM1 (/dev/pts/3)")
};

// Adapter names and the parameter key each one sets.
struct AdapterKey {
    const char* name;
    const char* key;
    bool serial;  // the key's value is the COM port number
};
const std::vector<AdapterKey>& AdapterKeys();

// Builds the plan, checking the model, protocol, options and the port or bus on this
// machine before anything is created: false with a one-line error, and exitCode set to the
// kind (usage or no adapter). traceOn adds TRACE=1.
bool PlanConnection(const ConnectionOptions& options, const ObjectRegistry& registry, bool traceOn,
                    ConnectionPlan& plan, std::string& error, int& exitCode);

// The known word nearest to word (at most a third of it misspelled); empty when none is.
std::string NearestWord(const std::string& word, const std::vector<std::string>& known);

}  // namespace diagbridge::cli
