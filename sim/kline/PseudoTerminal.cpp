#include "sim/kline/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>

namespace diagbridge::sim {

PseudoTerminal::~PseudoTerminal() {
    Close();
}

bool PseudoTerminal::Open() {
    Close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return false;
    std::array<char, 128> name{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
        Close();
        return false;
    }
    slavePath_ = name.data();
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) {
        Close();
        return false;
    }
    ::cfmakeraw(&settings);
    const int flags = ::fcntl(master_, F_GETFL);
    if (::tcsetattr(slave_, TCSANOW, &settings) != 0 || flags < 0 ||
        ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        Close();
        return false;
    }
    return true;
}

void PseudoTerminal::Close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = -1;
    master_ = -1;
    slavePath_.clear();
}

}  // namespace diagbridge::sim
