#pragma once
#include <cstdio>
#include <istream>
#include <mutex>
#include <string>

#include "component/CCommandInterface.h"
#include "component/ICommandInterfaceEvents.h"
#include "tools/diagbridge/ShellLine.h"

namespace diagbridge::cli {

// Drives a command interface from lines of text: one method call (or "sleep <ms>") per
// line, events printed as they are fired, then the call's outcome. With json, every output
// line is one JSON object; otherwise readable text, with a progress bar on a terminal.
class Shell : public ICommandInterfaceEvents {
  public:
    Shell(CCommandInterface& component, FILE* out, bool json, bool terminal);
    ~Shell() override;
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // Runs every line of input; returns the number of lines that could not be run.
    int Run(std::istream& input);
    // Runs one line; false when it could not be parsed or run.
    bool RunLine(const std::string& line);

    int32_t DbrProgressMessage(int16_t iBlockId, int16_t iProgress,
                               const std::string& strInfo) override;
    int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) override;
    int32_t DbrTraceMessage(int32_t lTraceId, const std::string& strTrace) override;

  private:
    void PrintLine(const std::string& text);
    void PrintError(const std::string& what);
    void EndProgressBar();

    CCommandInterface& component_;
    FILE* out_;
    bool json_;
    bool terminal_;
    bool barShown_ = false;
    std::string lastProgress_;
    uint32_t cookie_ = 0;
    std::mutex outputMutex_;
};

}  // namespace diagbridge::cli
