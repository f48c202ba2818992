#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "sim/kline/KlineEcuLine.h"
#include "sim/kline/KwpServiceResponder.h"

namespace diagbridge::sim {

struct KlineDemoOptions {
    std::string model = "T60";  // a name of KwpEcuModelNames()
    bool wired = true;          // echo like the wired adapter; false: SkyLink
    // P2 of the controller, milliseconds.
    uint32_t responseDelayMs = KlineLineOptions{}.responseDelayMs;
    // P3min the controller insists on, milliseconds (0: none).
    uint32_t minRequestGapMs = 0;
    // Pace the line at its baud rate and keep the timing in force (KlineLineOptions).
    bool lineModel = false;
    KwpResponderOptions responder;
};

// A virtual KWP2000 controller on a K-line, running in this process on a pseudo-terminal
// from Start until Stop or destruction: what a program needs to show or try a K-line session
// without hardware (DIAGBRIDGE_COM<N> = DevicePath()).
class KlineDemoEcu {
  public:
    // The running controller; null when the model is unknown or no terminal is left.
    static std::unique_ptr<KlineDemoEcu> Start(const KlineDemoOptions& options = {});
    ~KlineDemoEcu();
    KlineDemoEcu(const KlineDemoEcu&) = delete;
    KlineDemoEcu& operator=(const KlineDemoEcu&) = delete;

    // The serial device of the tester's end, "/dev/pts/N"; empty once stopped.
    std::string DevicePath() const { return line_.DevicePath(); }
    // Ends the line and closes the terminal; safe to call twice.
    void Stop() { line_.Stop(); }

    // The controller's state and fault injection.
    KwpServiceResponder& Responder() { return responder_; }
    KlineEcuLine& Line() { return line_; }

  private:
    KlineDemoEcu(const KwpEcuModel& model, const KlineDemoOptions& options);

    KwpServiceResponder responder_;
    KlineEcuLine line_;
};

}  // namespace diagbridge::sim
