#include "tools/diagbridge/Shell.h"

#include <chrono>
#include <thread>

#include "tools/diagbridge/Json.h"
#include "tools/diagbridge/Progress.h"
#include "tools/diagbridge/ShellMethods.h"

namespace diagbridge::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr int64_t kMaxSleepMs = 3600000;
// Readable output shortens long texts (uploads); --json always carries them whole.
constexpr std::size_t kReadableTextLimit = 240;

std::string ReadableText(const std::string& text) {
    if (text.size() <= kReadableTextLimit) return JsonString(text);
    return JsonString(text.substr(0, kReadableTextLimit)) + "... (" + std::to_string(text.size()) +
           " characters, --json shows all)";
}

std::string Readable(const ShellCallResult& result) {
    std::string text = "hresult " + std::to_string(result.hresult);
    for (const ShellOutput& output : result.outputs) {
        text += ", " + output.name + " ";
        text += output.isText ? ReadableText(output.text) : std::to_string(output.number);
    }
    return text;
}
}  // namespace

Shell::Shell(CCommandInterface& component, FILE* out, bool json, bool terminal)
    : component_(component), out_(out), json_(json), terminal_(terminal && !json) {
    cookie_ = component_.Advise(this);
}

Shell::~Shell() {
    component_.Unadvise(cookie_);
}

void Shell::PrintLine(const std::string& text) {
    std::lock_guard lock(outputMutex_);
    EndProgressBar();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Shell::EndProgressBar() {
    if (!barShown_) return;
    std::fputc('\n', out_);
    barShown_ = false;
}

void Shell::PrintError(const std::string& what) {
    PrintLine(json_ ? JsonObject().Add("error", what).Text() : "error: " + what);
}

int Shell::Run(std::istream& input) {
    int failures = 0;
    std::string line;
    while (std::getline(input, line)) {
        if (!RunLine(line)) ++failures;
    }
    return failures;
}

bool Shell::RunLine(const std::string& line) {
    ShellLine parsed;
    std::string error;
    if (!ParseShellLine(line, parsed, error)) {
        PrintError(error);
        return false;
    }
    if (parsed.word.empty()) return true;
    if (parsed.word == "sleep") {
        const bool valid = parsed.arguments.size() == 1 &&
                           parsed.arguments[0].kind == ShellArgument::Kind::Integer &&
                           parsed.arguments[0].integer >= 0 &&
                           parsed.arguments[0].integer <= kMaxSleepMs;
        if (!valid) {
            PrintError("sleep takes milliseconds, 0.." + std::to_string(kMaxSleepMs));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(parsed.arguments[0].integer));
        return true;
    }
    ShellCallResult result;
    if (!CallMethod(component_, parsed.word, parsed.arguments, result, error)) {
        PrintError(error);
        return false;
    }
    if (!json_) {
        PrintLine(parsed.word + ": " + Readable(result));
        return true;
    }
    JsonObject object;
    object.Add("method", parsed.word).Add("hresult", result.hresult);
    for (const ShellOutput& output : result.outputs) {
        if (output.isText) {
            object.Add(output.name, output.text);
        } else {
            object.Add(output.name, output.number);
        }
    }
    PrintLine(object.Text());
    return true;
}

int32_t Shell::DbrProgressMessage(int16_t iBlockId, int16_t iProgress, const std::string& strInfo) {
    if (json_) {
        PrintLine(JsonObject()
                      .Add("event", "DbrProgressMessage")
                      .Add("iBlockId", iBlockId)
                      .Add("iProgress", iProgress)
                      .Add("strInfo", strInfo)
                      .Text());
        return 0;
    }
    if (!terminal_) {
        {
            // The K-line upgrade wait sends one text many times: it is shown once.
            std::lock_guard lock(outputMutex_);
            if (strInfo == lastProgress_) return 0;
            lastProgress_ = strInfo;
        }
        PrintLine("progress " + std::to_string(iProgress) + "% " + strInfo);
        return 0;
    }
    BarView view;
    view.text = strInfo;
    view.percent = iProgress;
    std::lock_guard lock(outputMutex_);
    std::fprintf(out_, "\r\033[K%s", FormatBar(view, kBarWidth).c_str());
    std::fflush(out_);
    barShown_ = true;
    return 0;
}

int32_t Shell::DbrStatusMessage(int32_t lStatus, const std::string& strStatus) {
    PrintLine(json_ ? JsonObject()
                          .Add("event", "DbrStatusMessage")
                          .Add("lStatus", lStatus)
                          .Add("strStatus", strStatus)
                          .Text()
                    : "status " + strStatus);
    return 0;
}

int32_t Shell::DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) {
    PrintLine(json_ ? JsonObject()
                          .Add("event", "DbrTraceMessage")
                          .Add("lTraceId", lTraceId)
                          .Add("strTrace", strTrace)
                          .Text()
                    : "trace " + strTrace);
    return 0;
}

}  // namespace diagbridge::cli
