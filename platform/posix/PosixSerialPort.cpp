#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/SerialPort.h"

namespace diagbridge::platform {

namespace {

// The kernel's termios2, which carries the speed as a number (glibc's termios cannot, and
// the kernel header that declares it clashes with <termios.h>).
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kSpeedMask = 0010017;            // CBAUD
constexpr tcflag_t kInputSpeedMask = 002003600000;  // CIBAUD: 0 = same as output
constexpr tcflag_t kOtherSpeed = 0010000;           // BOTHER: speed in c_ispeed / c_ospeed

using SteadyTime = std::chrono::steady_clock::time_point;

int RemainingMs(SteadyTime deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Blocks until fd is ready for events or the deadline passes; false on time-out or hang-up.
bool WaitReady(int fd, short events, SteadyTime deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int result = ::poll(&entry, 1, RemainingMs(deadline));
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return false;
        return (entry.revents & events) != 0;
    }
}

tcflag_t DataBitsFlag(uint8_t bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(uint8_t parity) {
    switch (parity) {
        case 1:
            return PARENB | PARODD;
        case 2:
            return PARENB;
        case 3:
            return PARENB | CMSPAR | PARODD;
        case 4:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

// No echo, no line editing, no character translation; a received break reads as one 0 byte,
// as on a Win32 port.
void MakeRaw(KernelTermios2& settings) {
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag |= CREAD | CLOCAL;
    settings.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only at hang-up
    settings.c_cc[VTIME] = 0;
}

class PosixSerialPort final : public ISerialPort {
  public:
    ~PosixSerialPort() override { Close(); }

    uint32_t Open(const std::string& path) override {
        Close();
        if (path.empty()) return ENOENT;
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return static_cast<uint32_t>(errno);
        KernelTermios2 settings{};
        if (::ioctl(fd, TIOCEXCL) != 0 || ::ioctl(fd, kGetTermios2, &settings) != 0) {
            const int error = errno;
            ::close(fd);
            return static_cast<uint32_t>(error);
        }
        MakeRaw(settings);
        if (::ioctl(fd, kSetTermios2, &settings) != 0) {
            const int error = errno;
            ::close(fd);
            return static_cast<uint32_t>(error);
        }
        fd_ = fd;
        return 0;
    }

    void Close() override {
        if (fd_ < 0) return;
        ::close(fd_);
        fd_ = -1;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool SetLine(const LineSettings& line) override {
        if (fd_ < 0 || line.baud == 0) return false;
        KernelTermios2 settings{};
        if (::ioctl(fd_, kGetTermios2, &settings) != 0) return false;
        MakeRaw(settings);
        settings.c_cflag = CREAD | CLOCAL | kOtherSpeed | DataBitsFlag(line.dataBits) |
                           ParityFlags(line.parity) | (line.stopBits != 0 ? CSTOPB : 0) |
                           (line.handshake ? CRTSCTS : 0);
        settings.c_cflag &= ~(kInputSpeedMask | (kSpeedMask & ~kOtherSpeed));
        if (line.parity != 0) settings.c_iflag |= INPCK;
        settings.c_ispeed = line.baud;
        settings.c_ospeed = line.baud;
        return ::ioctl(fd_, kSetTermios2, &settings) == 0;
    }

    size_t Write(const uint8_t* data, size_t count, uint32_t timeoutMs) override {
        if (fd_ < 0 || data == nullptr) return 0;
        const SteadyTime deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t written = 0;
        while (written < count) {
            const ssize_t result = ::write(fd_, data + written, count - written);
            if (result > 0) {
                written += static_cast<size_t>(result);
                continue;
            }
            if (result < 0 && errno == EINTR) continue;
            if (result < 0 && errno != EAGAIN) break;
            if (!WaitReady(fd_, POLLOUT, deadline)) break;
        }
        // Bounded by the line speed: flow control is off on every line the program drives.
        while (::tcdrain(fd_) != 0 && errno == EINTR) {
        }
        return written;
    }

    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        if (fd_ < 0 || buffer == nullptr) return 0;
        const SteadyTime deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t got = 0;
        while (got < count) {
            const ssize_t result = ::read(fd_, buffer + got, count - got);
            if (result > 0) {
                got += static_cast<size_t>(result);
                continue;
            }
            if (result < 0 && errno == EINTR) continue;
            // 0 is end of file (the other side hung up); other errors end the read too.
            if (result == 0 || errno != EAGAIN) break;
            if (!WaitReady(fd_, POLLIN, deadline)) break;
        }
        return got;
    }

    uint32_t QueuedBytes(bool receive) override {
        if (fd_ < 0) return 0;
        int count = 0;
        if (::ioctl(fd_, receive ? FIONREAD : TIOCOUTQ, &count) != 0 || count < 0) return 0;
        return static_cast<uint32_t>(count);
    }

    void Discard(bool receive, bool transmit) override {
        if (fd_ < 0 || (!receive && !transmit)) return;
        ::tcflush(fd_, receive && transmit ? TCIOFLUSH : (receive ? TCIFLUSH : TCOFLUSH));
    }

    void SetBreak(bool on) override {
        if (fd_ >= 0) ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK);
    }

    // Line errors arrive in the byte stream on POSIX; there is no sticky state to reset.
    void ClearErrors() override {}

  private:
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<ISerialPort> CreateOsSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

}  // namespace diagbridge::platform
