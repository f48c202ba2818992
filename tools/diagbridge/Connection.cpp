#include "tools/diagbridge/Connection.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "ecu/CEcu.h"
#include "engine/CSoftwareInterface.h"
#include "platform/SerialPort.h"
#include "tools/diagbridge/ResultCodes.h"

namespace diagbridge::cli {

namespace {

constexpr const char* kXlVariable = "DIAGBRIDGE_XL";
constexpr const char* kComVariablePrefix = "DIAGBRIDGE_COM";
constexpr const char* kDefaultComPort = "1";
// Sources of the CAN driver whose text after the colon names a file on this machine.
constexpr std::array<const char*, 3> kFileBusSources = {"hub:", "slcan:", "so:"};

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsNumber(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

bool SetProfileValue(const std::string& key, const std::string& value, ConnectionOptions& profile) {
    if (key == "protocol") {
        profile.protocol = value;
    } else if (key == "ecu") {
        profile.ecu = value;
    } else if (key == "adapter") {
        profile.adapter = value;
    } else if (key == "port") {
        profile.port = value;
    } else if (key == "bus") {
        profile.bus = value;
    } else if (key == "baud") {
        profile.baud = std::atoi(value.c_str());
    } else if (key == "option") {
        profile.options.push_back(value);
    } else {
        return false;
    }
    return true;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t replace =
                diagonal + (std::tolower(a[i - 1]) == std::tolower(b[j - 1]) ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, replace});
            diagonal = above;
        }
    }
    return row[b.size()];
}

const ProtocolRow* FindProtocol(const ObjectRegistry& registry, const std::string& name) {
    for (const ProtocolRow& row : registry.protocols) {
        if (Lower(row.keyword) == Lower(name)) return &row;
    }
    return nullptr;
}

const ProtocolRow* ProtocolOfCode(const ObjectRegistry& registry, int32_t code) {
    for (const ProtocolRow& row : registry.protocols) {
        if (row.protocolCode == code && row.create != nullptr) return &row;
    }
    return nullptr;
}

std::vector<std::string> ModelKeywords(const ObjectRegistry& registry) {
    std::vector<std::string> words;
    for (const EcuTypeRow& row : registry.ecuTypes) words.emplace_back(row.keyword);
    return words;
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& known) {
    const std::string nearest = NearestWord(word, known);
    return nearest.empty() ? std::string() : " (did you mean '" + nearest + "'?)";
}

const AdapterKey* FindAdapter(const std::string& name) {
    for (const AdapterKey& adapter : AdapterKeys()) {
        if (name == adapter.name) return &adapter;
    }
    return nullptr;
}

// The protocols (built) the model runs on, narrowed by what the adapter carries: CAN
// adapters only UDS, serial adapters no UDS.
std::vector<const ProtocolRow*> ModelProtocols(const ObjectRegistry& registry,
                                               const std::string& model,
                                               const AdapterKey* adapter) {
    std::vector<const ProtocolRow*> protocols;
    for (const EcuTypeRow& row : registry.ecuTypes) {
        if (model != row.keyword || row.create == nullptr) continue;
        const ProtocolRow* protocol = ProtocolOfCode(registry, row.protocolCode);
        if (protocol == nullptr) continue;
        const bool uds = row.protocolCode == kProtocolUds;
        if (adapter != nullptr && std::string(adapter->name) == "vector" && !uds) continue;
        if (adapter != nullptr && adapter->serial && uds) continue;
        protocols.push_back(protocol);
    }
    return protocols;
}

bool ModelKnown(const ObjectRegistry& registry, const std::string& model, bool& built) {
    bool known = false;
    built = false;
    for (const EcuTypeRow& row : registry.ecuTypes) {
        if (model != row.keyword) continue;
        known = true;
        built = built || (row.create != nullptr && ProtocolOfCode(registry, row.protocolCode));
    }
    return known;
}

bool ChooseProtocol(const ConnectionOptions& options, const ObjectRegistry& registry,
                    const AdapterKey* adapter, const ProtocolRow*& chosen, std::string& error) {
    const std::vector<const ProtocolRow*> candidates =
        ModelProtocols(registry, options.ecu, adapter);
    if (!options.protocol.empty()) {
        chosen = FindProtocol(registry, options.protocol);
        if (chosen == nullptr) {
            error = "unknown protocol '" + options.protocol + "' (see diagbridge models)";
            return false;
        }
        if (std::find(candidates.begin(), candidates.end(), chosen) != candidates.end())
            return true;
        error = "model '" + options.ecu + "' does not run on " + chosen->keyword +
                (adapter != nullptr ? std::string(" with the ") + adapter->name + " adapter" : "");
        return false;
    }
    if (candidates.size() == 1) {
        chosen = candidates.front();
        return true;
    }
    if (candidates.empty()) {
        error = "model '" + options.ecu + "' does not run on the " + adapter->name + " adapter";
        return false;
    }
    error = "model '" + options.ecu + "' runs on";
    for (const ProtocolRow* row : candidates) error += std::string(" ") + row->keyword;
    error += ": give --protocol or --adapter";
    return false;
}

// True when the communication object of protocol takes key=value as its own.
bool CommunicationKey(const ProtocolRow& protocol, const std::string& option) {
    const std::unique_ptr<CSoftwareInterface> probe =
        protocol.create(nullptr, std::string(protocol.keyword) + "|" + option);
    return probe != nullptr && probe->ParametersAccepted();
}

bool EcuKey(const ObjectRegistry& registry, const ProtocolRow& protocol, const std::string& model,
            const std::string& option) {
    const std::unique_ptr<CEcu> probe = CreateEcuObject(
        registry.ecuTypes, model, protocol.protocolCode, nullptr, model + "|" + option);
    return probe != nullptr && probe->IsCreated();
}

bool RouteOptions(const ConnectionOptions& options, const ObjectRegistry& registry,
                  const ProtocolRow& protocol, ConnectionPlan& plan, std::string& error) {
    for (const std::string& option : options.options) {
        const auto equals = option.find('=');
        if (equals == std::string::npos || equals == 0 || option.find('|') != std::string::npos) {
            error = "--option '" + option + "' is not KEY=VALUE";
            return false;
        }
        if (CommunicationKey(protocol, option)) {
            plan.communicationParameter += "|" + option;
        } else if (EcuKey(registry, protocol, options.ecu, option)) {
            plan.ecuParameter += "|" + option;
        } else {
            error = "--option " + option.substr(0, equals) + " is a key of neither " +
                    protocol.keyword + " nor model " + options.ecu;
            return false;
        }
    }
    return true;
}

bool PlanSerialPort(const ConnectionOptions& options, const AdapterKey& adapter,
                    ConnectionPlan& plan, std::string& error, int& exitCode) {
    std::string port = options.port.empty() ? kDefaultComPort : options.port;
    std::string path;
    if (IsNumber(port)) {
        const int number = std::atoi(port.c_str());
        if (number < 1 || number > 255) {
            error = "--port " + port + " is not a COM port number 1..255";
            exitCode = kExitUsage;
            return false;
        }
        path = platform::ComPortPath(static_cast<uint8_t>(number));
    } else {
        path = port;
        port = kDefaultComPort;
        plan.environment.emplace_back(kComVariablePrefix + port, path);
    }
    plan.communicationParameter += std::string("|") + adapter.key + "=" + port;
    plan.where = "COM" + port + " (" + path + ")";
    if (std::filesystem::exists(path)) return true;
    error =
        "serial port " + path + " (COM" + port + ", " + adapter.name + " adapter) does not exist";
    return false;
}

bool PlanBus(const ConnectionOptions& options, ConnectionPlan& plan, std::string& error) {
    const char* current = std::getenv(kXlVariable);
    const std::string bus = !options.bus.empty() ? options.bus : (current ? current : "");
    if (!options.bus.empty()) plan.environment.emplace_back(kXlVariable, options.bus);
    plan.where = "CAN " + (bus.empty() ? std::string("virtual") : bus);
    for (const char* prefix : kFileBusSources) {
        const std::string source(prefix);
        if (bus.rfind(source, 0) != 0) continue;
        const std::string path = bus.substr(source.size());
        if (std::filesystem::exists(path)) return true;
        error = "CAN bus " + path + " (" + source + " source) does not exist";
        return false;
    }
    return true;
}

bool PlanAdapter(const ConnectionOptions& options, const ProtocolRow& protocol,
                 const AdapterKey& adapter, ConnectionPlan& plan, std::string& error,
                 int& exitCode) {
    if (adapter.serial) return PlanSerialPort(options, adapter, plan, error, exitCode);
    plan.communicationParameter += std::string("|") + adapter.key + "=1";
    if (protocol.protocolCode == kProtocolUds) return PlanBus(options, plan, error);
    plan.where = adapter.name;
    return true;
}

}  // namespace

const std::vector<AdapterKey>& AdapterKeys() {
    static const std::vector<AdapterKey> keys = {
        {"rs232", "RS232", true},
        {"skylink", "SKYLINK", true},
        {"vector", "VECTOR", false},
        {"samtec", "SAMTECUSB", false},
    };
    return keys;
}

void MergeProfile(const ConnectionOptions& profile, ConnectionOptions& options) {
    if (options.protocol.empty()) options.protocol = profile.protocol;
    if (options.ecu.empty()) options.ecu = profile.ecu;
    if (options.adapter.empty()) options.adapter = profile.adapter;
    if (options.port.empty()) options.port = profile.port;
    if (options.bus.empty()) options.bus = profile.bus;
    if (options.baud == 0) options.baud = profile.baud;
    options.options.insert(options.options.begin(), profile.options.begin(), profile.options.end());
}

bool ReadProfile(const std::string& text, const std::string& source, const std::string& name,
                 ConnectionOptions& profile, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    std::string section;
    bool found = false;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            found = found || section == name;
            continue;
        }
        const auto equals = line.find('=');
        const std::string key = Trim(line.substr(0, equals));
        if (equals == std::string::npos) {
            error = source + ":" + std::to_string(number) + ": expected key = value";
            return false;
        }
        if (section != name) continue;
        if (!SetProfileValue(key, Trim(line.substr(equals + 1)), profile)) {
            error = source + ":" + std::to_string(number) + ": unknown key '" + key + "'";
            return false;
        }
    }
    if (!found) error = source + ": no profile [" + name + "]";
    return found;
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& known) {
    std::string best;
    size_t bestDistance = word.size() / 3 + 1;
    for (const std::string& candidate : known) {
        const size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

bool PlanConnection(const ConnectionOptions& options, const ObjectRegistry& registry, bool traceOn,
                    ConnectionPlan& plan, std::string& error, int& exitCode) {
    exitCode = kExitUsage;
    plan = ConnectionPlan{};
    if (options.ecu.empty()) {
        error = "no ECU model given: --ecu <model> or --profile <name> (see diagbridge models)";
        return false;
    }
    bool built = false;
    if (!ModelKnown(registry, options.ecu, built)) {
        error = "unknown model '" + options.ecu + "'" +
                DidYouMean(options.ecu, ModelKeywords(registry)) + " (see diagbridge models)";
        return false;
    }
    if (!built) {
        error = "model '" + options.ecu + "' is not available in this build";
        return false;
    }
    // A CAN bus given names the CAN adapter, a port the wired K-line adapter.
    std::string adapterName = options.adapter;
    if (adapterName.empty() && !options.bus.empty()) adapterName = "vector";
    if (adapterName.empty() && !options.port.empty()) adapterName = "rs232";
    const AdapterKey* adapter = nullptr;
    if (!adapterName.empty() && (adapter = FindAdapter(adapterName)) == nullptr) {
        error = "unknown adapter '" + options.adapter + "' (rs232, skylink, vector or samtec)";
        return false;
    }
    const ProtocolRow* protocol = nullptr;
    if (!ChooseProtocol(options, registry, adapter, protocol, error)) return false;
    if (adapter == nullptr) {
        adapter = FindAdapter(protocol->protocolCode == kProtocolUds ? "vector" : "rs232");
    }
    plan.protocol = protocol->keyword;
    plan.communicationParameter = plan.protocol;
    plan.ecuParameter = options.ecu;
    if (options.baud > 0) {
        plan.communicationParameter += "|BAUDRATE=" + std::to_string(options.baud);
    }
    plan.communicationParameter +=
        std::string("|PROGRESS=1|STATUS=1") + (traceOn ? "|TRACE=1" : "");
    if (!RouteOptions(options, registry, *protocol, plan, error)) return false;
    exitCode = kExitNoAdapter;
    return PlanAdapter(options, *protocol, *adapter, plan, error, exitCode);
}

}  // namespace diagbridge::cli
