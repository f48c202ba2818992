#pragma once
#include <string>

namespace diagbridge::sim {

// A pseudo-terminal pair in raw mode: the virtual line works on the master side, the
// program under test opens SlavePath() as its serial port. The pair keeps a slave handle of
// its own so that the master never sees a hang-up while the program closes and reopens
// the port.
class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair; false when the system has no pseudo-terminal left.
    bool Open();
    void Close();
    // Non-blocking master handle; -1 while closed.
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace diagbridge::sim
