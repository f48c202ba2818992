#pragma once
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <string>

namespace diagbridge::xl {

// A pseudo-terminal: the master end stays in the test, the slave path is given to the code
// under test (or to a peer process).
class PtyPair {
  public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name != nullptr) slavePath_ = name;
        // Keep the slave open so the master never sees a hang-up between users.
        keeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        if (tcgetattr(keeper_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(keeper_, TCSANOW, &tio);
        }
    }
    ~PtyPair() {
        if (keeper_ >= 0) close(keeper_);
        if (master_ >= 0) close(master_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && keeper_ >= 0; }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Reads from the master until text ends with terminator or timeoutMs passes.
    std::string ReadUntil(char terminator, int timeoutMs) {
        std::string text;
        while (text.empty() || text.back() != terminator) {
            pollfd in = {master_, POLLIN, 0};
            if (poll(&in, 1, timeoutMs) <= 0) break;
            char c = 0;
            if (read(master_, &c, 1) != 1) break;
            text += c;
        }
        return text;
    }
    void Write(const std::string& text) {
        [[maybe_unused]] const ssize_t written = write(master_, text.data(), text.size());
    }

  private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
};

}  // namespace diagbridge::xl
