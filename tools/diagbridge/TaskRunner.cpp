#include "tools/diagbridge/TaskRunner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "component/CCommandInterface.h"
#include "drivers/xl/CandumpWriter.h"
#include "ecu/CEcu.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"
#include "platform/SerialPort.h"
#include "tools/diagbridge/Interrupt.h"
#include "tools/diagbridge/Json.h"
#include "tools/diagbridge/KlineLog.h"
#include "tools/diagbridge/Models.h"
#include "tools/diagbridge/Progress.h"
#include "tools/diagbridge/ResultCodes.h"
#include "tools/diagbridge/TaskData.h"
#include "tools/diagbridge/Terminal.h"
#include "uds/CSUdsIso14229.h"

namespace diagbridge::cli {

namespace {

constexpr const char* kConfigVariable = "DIAGBRIDGE_CONFIG";
constexpr const char* kDefaultConfig = "/.config/diagbridge/profiles.ini";
constexpr int32_t kFunctionalAddressing = 1;
constexpr const char* kTesterPresent = "3E 00";
constexpr double kMsPerSecond = 1000.0;

// The communication object the last task created, so that Ctrl-C can stop its service.
InterruptWatch* gWatch = nullptr;

std::unique_ptr<CSoftwareInterface> WatchedFactory(IServiceEvents* events,
                                                   const std::string& parameter) {
    const std::string keyword = ParameterKeyword(parameter);
    for (const ProtocolRow& row : ProtocolTable()) {
        if (keyword != row.keyword || row.create == nullptr) continue;
        std::unique_ptr<CSoftwareInterface> object = row.create(events, parameter);
        if (gWatch != nullptr && object && object->ParametersAccepted())
            gWatch->Watch(object.get());
        return object;
    }
    return nullptr;
}

// The component's tables, with every protocol built through WatchedFactory.
ObjectRegistry WatchedRegistry() {
    ObjectRegistry registry = DefaultObjectRegistry();
    for (ProtocolRow& row : registry.protocols) {
        if (row.create != nullptr) row.create = &WatchedFactory;
    }
    return registry;
}

std::string ConfigPath(const TaskOptions& options) {
    if (!options.config.empty()) return options.config;
    if (const char* path = std::getenv(kConfigVariable); path != nullptr && *path != '\0')
        return path;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + kDefaultConfig;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "%0*X", digits, value);
    return text;
}

// True when a download that stopped in step may have changed the ECU's memory.
bool MemoryTouched(const std::string& step) {
    for (const char* word : {"Erase", "ransfer", "Download Process"}) {
        if (step.find(word) != std::string::npos) return true;
    }
    return false;
}

std::string Join(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// One task on one ECU: the files and captures it writes, the component and its objects.
class Task {
  public:
    Task(std::string command, const TaskOptions& options)
        : command_(std::move(command)),
          options_(options),
          mode_(options.json ? OutputMode::kJson
                             : (options.quiet ? OutputMode::kQuiet : OutputMode::kHuman)),
          progress_(stdout, mode_, IsTerminal(stdout)) {}
    ~Task() { Close(); }

    // Profile, connection plan and output files; an exit code, or -1 to go on.
    int Prepare();
    // Creates the objects; an exit code, or -1 to go on.
    int Create();
    // Connects and opens the access asked for; an exit code, or -1 to go on.
    int Connect();
    void Close();

    // The end of a task: the result line (JSON) or the failure line; returns the exit code.
    int Finish(int32_t result, const std::string& during, JsonObject extra = JsonObject());
    // A failure before anything was created.
    int Fail(int exitCode, const std::string& what);

    int Ident();
    int Request();
    int Access() { return Finish(0, "DbrSetDiagnosticAccess"); }
    int ReadDtc();
    int Upload();
    int Flash();
    int Job();
    int Config();

    Progress& Output() { return progress_; }
    const ConnectionPlan& Plan() const { return plan_; }
    CCommandInterface* Component() { return component_.get(); }
    int32_t EcuId() const { return ecuId_; }
    bool Json() const { return mode_ == OutputMode::kJson; }
    void SetInterruptWatch(InterruptWatch* watch) { watch_ = watch; }
    // A scan tries addresses that need not answer: no failure lines.
    void SetSilent() { silent_ = true; }
    // The ECU object's parameter string, once created.
    std::string EcuConfiguration();

  private:
    int OpenFiles();
    int RunAccess();
    JsonObject ResultObject(int32_t result) const;

    std::string command_;
    TaskOptions options_;
    OutputMode mode_;
    Progress progress_;
    ConnectionPlan plan_;
    std::unique_ptr<CCommandInterface> component_;
    std::unique_ptr<SerialByteLog> serialLog_;
    std::unique_ptr<platform::ScopedSerialPortFactory> serialFactory_;
    FILE* traceFile_ = nullptr;
    FILE* serialFile_ = nullptr;
    uint32_t cookie_ = 0;
    int32_t communicationId_ = -1;
    int32_t ecuId_ = -1;
    InterruptWatch* watch_ = nullptr;
    bool silent_ = false;
    HexFile hex_;
};

int Task::Fail(int exitCode, const std::string& what) {
    if (silent_) return exitCode;
    std::fprintf(stderr, "diagbridge %s: %s\n", command_.c_str(), what.c_str());
    if (Json()) {
        progress_.Line(
            JsonObject().Add("command", command_).Add("exit", exitCode).Add("error", what).Text(),
            true);
    }
    return exitCode;
}

JsonObject Task::ResultObject(int32_t result) const {
    JsonObject object;
    object.Add("command", command_).Add("result", result).Add("name", ResultName(result));
    return object;
}

int Task::Finish(int32_t result, const std::string& during, JsonObject extra) {
    const int exitCode = ExitCodeFor(result);
    if (result >= 0) {
        if (Json()) progress_.Line(ResultObject(result).Append(extra).Text(), true);
        return exitCode;
    }
    if (silent_) return exitCode;
    std::string step = progress_.FailedStep();
    if (step.empty()) {
        const std::string last = progress_.LastStep();
        step = during + (last.empty() ? "" : " after '" + last + "'");
    }
    const std::string what = ResultMeaning(result) + " (" + std::to_string(result) + " " +
                             ResultName(result) + ") during " + step + " [" + plan_.where + "]";
    std::fprintf(stderr, "diagbridge %s: %s\n", command_.c_str(), what.c_str());
    if (Json()) {
        progress_.Line(ResultObject(result).Add("exit", exitCode).Add("error", what).Text(), true);
    }
    return exitCode;
}

int Task::OpenFiles() {
    if (!options_.trace.empty() &&
        (traceFile_ = std::fopen(options_.trace.c_str(), "w")) == nullptr) {
        return Fail(kExitNoFile, "cannot write the trace file " + options_.trace);
    }
    progress_.SetTraceFile(traceFile_);
    if (!options_.candump.empty()) {
        std::ofstream probe(options_.candump);
        if (!probe) return Fail(kExitNoFile, "cannot write the candump file " + options_.candump);
        setenv(xl::CandumpWriter::kEnvironmentVariable, options_.candump.c_str(), 1);
    }
    if (options_.klineLog.empty()) return -1;
    if ((serialFile_ = std::fopen(options_.klineLog.c_str(), "w")) == nullptr) {
        return Fail(kExitNoFile, "cannot write the K-line log " + options_.klineLog);
    }
    serialLog_ = std::make_unique<SerialByteLog>(serialFile_);
    SerialByteLog* log = serialLog_.get();
    serialFactory_ = std::make_unique<platform::ScopedSerialPortFactory>([log] {
        return std::unique_ptr<platform::ISerialPort>(
            new LoggingSerialPort(platform::CreateOsSerialPort(), *log));
    });
    return -1;
}

int Task::Prepare() {
    ConnectionOptions connection = options_.connection;
    if (!options_.profile.empty()) {
        const std::string path = ConfigPath(options_);
        std::ifstream file(path);
        if (!file) return Fail(kExitNoFile, "cannot open the profile file " + path);
        std::ostringstream text;
        text << file.rdbuf();
        ConnectionOptions profile;
        std::string error;
        if (!ReadProfile(text.str(), path, options_.profile, profile, error)) {
            return Fail(kExitUsage, error);
        }
        MergeProfile(profile, connection);
    }
    if (command_ == "flash") {
        std::string error;
        bool missing = false;
        if (!ReadHexFile(options_.file, hex_, error, missing)) {
            return Fail(missing ? kExitNoFile : kExitBadHex, error);
        }
        progress_.SetTotalBytes(hex_.dataBytes);
    }
    std::string error;
    int exitCode = kExitUsage;
    if (!PlanConnection(connection, DefaultObjectRegistry(), !options_.trace.empty(), plan_, error,
                        exitCode)) {
        return Fail(exitCode, error);
    }
    if (command_ == "config") return -1;
    for (const auto& [name, value] : plan_.environment) setenv(name.c_str(), value.c_str(), 1);
    return OpenFiles();
}

int Task::Create() {
    component_ = std::make_unique<CCommandInterface>(WatchedRegistry());
    cookie_ = component_->Advise(&progress_);
    progress_.Line("connecting: " + ParameterKeyword(plan_.ecuParameter) + " over " +
                   plan_.protocol + " at " + plan_.where);
    component_->DbrCreateCommunicationObject(plan_.communicationParameter, &communicationId_);
    if (communicationId_ < 0) {
        return Finish(communicationId_,
                      "DbrCreateCommunicationObject " + plan_.communicationParameter);
    }
    component_->DbrCreateEcuObject(plan_.ecuParameter, communicationId_, &ecuId_);
    return ecuId_ < 0 ? Finish(ecuId_, "DbrCreateEcuObject " + plan_.ecuParameter) : -1;
}

int Task::Connect() {
    int32_t result = kResultFailure;
    component_->DbrConnect(ecuId_, &result);
    if (result < 0) return Finish(result, "DbrConnect");
    return RunAccess();
}

int Task::RunAccess() {
    int32_t result = kResultOk;
    if (options_.explicitAccess) {
        component_->DbrSetDiagnosticAccess(ecuId_, options_.oem, options_.mode, options_.accessBaud,
                                           options_.specialTiming ? -1 : 0, &result);
    } else if (options_.session >= 0) {
        component_->DbrSetPredefinedDiagnosticAccess(ecuId_, options_.session, &result);
    }
    return result < 0 ? Finish(result, "DbrSetDiagnosticAccess") : -1;
}

void Task::Close() {
    if (component_) {
        int32_t ignored = 0;
        progress_.Mute();
        if (watch_ != nullptr) watch_->Watch(nullptr);
        if (ecuId_ >= 0) component_->DbrDisconnect(ecuId_, &ignored);
        if (ecuId_ >= 0) component_->DbrDeleteEcuObject(ecuId_, &ignored);
        if (communicationId_ >= 0)
            component_->DbrDeleteCommunicationObject(communicationId_, &ignored);
        component_->Unadvise(cookie_);
        component_.reset();
        ecuId_ = communicationId_ = -1;
    }
    serialFactory_.reset();
    if (traceFile_ != nullptr) std::fclose(traceFile_);
    if (serialFile_ != nullptr) std::fclose(serialFile_);
    traceFile_ = serialFile_ = nullptr;
}

std::string Task::EcuConfiguration() {
    std::string text;
    int32_t ignored = 0;
    if (component_ && ecuId_ >= 0) component_->DbrGetConfiguration(ecuId_, &text, &ignored);
    return text;
}

int Task::Ident() {
    std::string ident;
    int32_t result = kResultFailure;
    component_->DbrGetIdent(ecuId_, &ident, &result);
    if (result < 0) return Finish(result, "DbrGetIdent");
    JsonObject values;
    for (const auto& [key, value] : ParseIdent(ident)) {
        values.Add(key, value);
        if (!Json()) progress_.Line(key + " = " + value, true);
    }
    return Finish(result, "DbrGetIdent", JsonObject().AddJson("ident", values.Text()));
}

int Task::Request() {
    std::string response;
    int32_t result = kResultFailure;
    const std::string request = Join(options_.request);
    if (options_.functional) {
        component_->DbrExtSingleRequest(ecuId_, kFunctionalAddressing, request, &response, &result);
    } else {
        component_->DbrSingleRequest(ecuId_, request, &response, &result);
    }
    if (result < 0) return Finish(result, "request " + request + ", response '" + response + "'");
    if (!Json()) progress_.Line(response, true);
    return Finish(result, "request",
                  JsonObject().Add("request", request).Add("response", response));
}

int Task::ReadDtc() {
    const DtcRequest* request = DtcRequestOf(plan_.protocol);
    if (request == nullptr)
        return Fail(kExitUsage, plan_.protocol + " has no trouble-code request; use upload");
    std::string response;
    int32_t result = kResultFailure;
    component_->DbrSingleRequest(ecuId_, request->request, &response, &result);
    if (result < 0) return Finish(result, std::string("request ") + request->request);
    std::vector<TroubleCode> codes;
    if (!ParseTroubleCodes(*request, response, codes)) {
        return Fail(kExitRefused, "trouble codes do not read from the response '" + response + "'");
    }
    std::vector<std::string> items;
    const int digits = static_cast<int>(request->codeBytes * 2);
    for (const TroubleCode& code : codes) {
        items.push_back(
            JsonObject().Add("code", Hex(code.code, digits)).Add("status", code.status).Text());
        if (!Json())
            progress_.Line(Hex(code.code, digits) + "  status " + Hex(code.status, 2), true);
    }
    if (!Json() && codes.empty()) progress_.Line("no trouble codes stored", true);
    return Finish(result, "read-dtc",
                  JsonObject()
                      .Add("count", static_cast<int64_t>(codes.size()))
                      .AddJson("dtcs", JsonArray(items)));
}

int Task::Upload() {
    std::string upload;
    int32_t result = kResultFailure;
    component_->DbrUpload(ecuId_, options_.header, &upload, &result);
    if (result < 0) return Finish(result, "DbrUpload");
    if (!Json()) {
        std::string line;
        std::istringstream lines(upload);
        while (std::getline(lines, line, '|')) {
            if (!line.empty()) progress_.Line(line, true);
        }
    }
    return Finish(result, "DbrUpload",
                  JsonObject().AddJson("sections", UploadJson(ParseUpload(upload))));
}

int Task::Flash() {
    const auto start = std::chrono::steady_clock::now();
    int32_t result = kResultFailure;
    component_->DbrDownload(ecuId_, options_.type, hex_.text, &result);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (watch_ != nullptr && watch_->Interrupted()) {
        const std::string step = progress_.LastStep();
        const std::string state =
            MemoryTouched(step)
                ? "the ECU's memory is partly programmed: it stays in its boot loader and "
                  "needs a complete flash before it runs again"
                : "nothing was written: the ECU keeps its software";
        const std::string what =
            "interrupted: stopped after the current transfer (" + step + "); " + state;
        std::fprintf(stderr, "diagbridge flash: %s\n", what.c_str());
        if (Json()) {
            progress_.Line(
                ResultObject(result).Add("exit", kExitInterrupted).Add("error", what).Text(), true);
        }
        return kExitInterrupted;
    }
    if (result < 0) return Finish(result, "DbrDownload");
    char summary[96];
    std::snprintf(summary, sizeof(summary), "flashed %llu bytes in %.1f s (%.0f B/s)",
                  static_cast<unsigned long long>(hex_.dataBytes), seconds,
                  seconds > 0 ? static_cast<double>(hex_.dataBytes) / seconds : 0.0);
    if (!Json()) progress_.Line(summary, true);
    return Finish(result, "DbrDownload",
                  JsonObject()
                      .Add("bytes", static_cast<int64_t>(hex_.dataBytes))
                      .Add("ms", static_cast<int64_t>(seconds * kMsPerSecond)));
}

int Task::Job() {
    int32_t result = kResultFailure;
    component_->DbrJob(ecuId_, options_.job, &result);
    if (result < 0) return Finish(result, "DbrJob");
    if (!Json()) progress_.Line("job: done (" + std::to_string(result) + ")", true);
    return Finish(result, "DbrJob");
}

int Task::Config() {
    JsonObject environment;
    for (const auto& [name, value] : plan_.environment) {
        environment.Add(name, value);
        if (!Json()) progress_.Line(name + "=" + value, true);
    }
    if (!Json()) {
        progress_.Line("DbrCreateCommunicationObject \"" + plan_.communicationParameter + "\"",
                       true);
        progress_.Line("DbrCreateEcuObject \"" + plan_.ecuParameter + "\"", true);
    }
    return Finish(0, "config",
                  JsonObject()
                      .Add("protocol", plan_.protocol)
                      .Add("communication", plan_.communicationParameter)
                      .Add("ecu", plan_.ecuParameter)
                      .Add("where", plan_.where)
                      .AddJson("environment", environment.Text()));
}

// The ECU address part ("ECU=0x33h") of an ECU object's parameter string.
std::string EcuAddress(const std::string& configuration) {
    for (const std::string& token : SplitParameterTokens(configuration)) {
        if (token.rfind("ECU=", 0) == 0) return token.substr(4);
    }
    return {};
}

// The (model, adapter) pairs a scan tries, in order.
std::vector<std::pair<std::string, std::string>> ScanCandidates(const TaskOptions& options,
                                                                std::string& error) {
    const ConnectionOptions& connection = options.connection;
    std::string adapter = connection.adapter;
    if (adapter.empty() && !connection.bus.empty()) adapter = "vector";
    if (adapter.empty() && !connection.port.empty()) adapter = "rs232";
    const std::vector<ModelInfo> models = ListModels(DefaultObjectRegistry());
    // A CAN adapter carries UDS only, a serial one everything else.
    const auto fits = [&adapter](const std::string& protocol) {
        if (adapter.empty() || adapter == "samtec") return true;
        return (protocol == CSUdsIso14229::kKeyword) == (adapter == "vector");
    };
    std::string protocol = connection.protocol;
    for (const ModelInfo& model : models) {
        if (protocol.empty() && model.keyword == connection.ecu && model.built &&
            fits(model.protocol)) {
            protocol = model.protocol;
        }
    }
    if (protocol.empty()) {
        error = "scan needs --protocol or --ecu";
        return {};
    }
    const bool uds = protocol == CSUdsIso14229::kKeyword;
    std::vector<std::string> adapters = {adapter};
    if (adapter.empty())
        adapters =
            uds ? std::vector<std::string>{"vector"} : std::vector<std::string>{"rs232", "skylink"};
    std::vector<std::pair<std::string, std::string>> candidates;
    for (const ModelInfo& model : models) {
        if (!model.built || model.protocol != protocol) continue;
        if (!connection.ecu.empty() && model.keyword != connection.ecu) continue;
        for (const std::string& name : adapters) candidates.emplace_back(model.keyword, name);
        // A K-line connect searches the model's whole address table: one model is enough.
        if (!uds) break;
    }
    if (candidates.empty()) error = "no model of " + protocol + " in this build";
    return candidates;
}

}  // namespace

int RunScan(const TaskOptions& options) {
    std::string error;
    const auto candidates = ScanCandidates(options, error);
    if (candidates.empty()) {
        std::fprintf(stderr, "diagbridge scan: %s\n", error.c_str());
        return kExitUsage;
    }
    InterruptWatch watch;
    gWatch = &watch;
    std::vector<std::string> tried;
    int found = 0;
    for (const auto& [model, adapter] : candidates) {
        if (watch.Interrupted()) break;
        TaskOptions attempt = options;
        attempt.connection.ecu = model;
        attempt.connection.adapter = adapter;
        attempt.json = false;
        attempt.quiet = true;
        Task task("scan", attempt);
        task.SetSilent();
        task.SetInterruptWatch(&watch);
        if (task.Prepare() >= 0 || task.Create() >= 0) continue;
        const std::string address = EcuAddress(task.EcuConfiguration());
        if (std::find(tried.begin(), tried.end(), address) != tried.end()) continue;
        tried.push_back(address);
        if (!options.json && !options.quiet) {
            std::printf("trying %s (ECU %s) with the %s adapter at %s\n", model.c_str(),
                        address.c_str(), adapter.c_str(), task.Plan().where.c_str());
            std::fflush(stdout);
        }
        if (task.Connect() >= 0) continue;
        std::string response;
        int32_t result = kResultOk;
        if (task.Plan().protocol == CSUdsIso14229::kKeyword) {
            task.Component()->DbrSingleRequest(task.EcuId(), kTesterPresent, &response, &result);
        }
        if (result < 0) continue;
        ++found;
        const std::string where = task.Plan().where;
        if (options.json) {
            std::printf("%s\n", JsonObject()
                                    .Add("event", "found")
                                    .Add("model", model)
                                    .Add("adapter", adapter)
                                    .Add("where", where)
                                    .Add("ecu", address)
                                    .Text()
                                    .c_str());
        } else {
            std::printf("found %s (ECU %s) with the %s adapter at %s\n", model.c_str(),
                        address.c_str(), adapter.c_str(), where.c_str());
        }
        std::fflush(stdout);
    }
    gWatch = nullptr;
    if (options.json) {
        std::printf("%s\n", JsonObject().Add("command", "scan").Add("found", found).Text().c_str());
    }
    if (watch.Interrupted()) return kExitInterrupted;
    return found > 0 ? kExitOk : kExitNoAnswer;
}

int RunTask(const std::string& command, const TaskOptions& options) {
    InterruptWatch watch;
    gWatch = &watch;
    Task task(command, options);
    task.SetInterruptWatch(&watch);
    int exitCode = task.Prepare();
    if (exitCode < 0 && command == "config") exitCode = task.Config();
    if (exitCode < 0) exitCode = task.Create();
    if (exitCode < 0) exitCode = task.Connect();
    if (exitCode < 0) {
        if (command == "ident") exitCode = task.Ident();
        if (command == "request") exitCode = task.Request();
        if (command == "access") exitCode = task.Access();
        if (command == "read-dtc") exitCode = task.ReadDtc();
        if (command == "upload") exitCode = task.Upload();
        if (command == "flash") exitCode = task.Flash();
        if (command == "job") exitCode = task.Job();
    }
    task.Close();
    gWatch = nullptr;
    return exitCode;
}

}  // namespace diagbridge::cli
