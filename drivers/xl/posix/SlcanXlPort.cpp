#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "drivers/xl/PcapWriter.h"
#include "drivers/xl/SlcanLine.h"
#include "drivers/xl/XlSourceKinds.h"
#include "drivers/xl/posix/FdXlPort.h"

namespace diagbridge::xl {

namespace {

constexpr char kCommandEnd = '\r';
constexpr char kErrorBell = '\a';

// Lawicel S0..S8 bit rates.
constexpr uint32_t kSlcanRates[] = {10000,  20000,  50000,  100000, 125000,
                                    250000, 500000, 800000, 1000000};

int OpenSerial(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        close(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    return fd;
}

// A Lawicel/slcan adapter on a serial line. The channel opens as listen-only ("L") in silent
// output and normally ("O") otherwise; the adapter's acknowledgements are not waited for.
class SlcanXlPort final : public FdXlPort {
  public:
    explicit SlcanXlPort(int fd) : FdXlPort(fd) {
        Command("C");
        StartReader();
    }
    ~SlcanXlPort() override {
        StopReader();
        Command("C");
    }

  protected:
    XLstatus ApplyBitRate(uint32_t bitRate) override {
        for (size_t i = 0; i < std::size(kSlcanRates); ++i) {
            if (kSlcanRates[i] != bitRate) continue;
            rateCode_ = static_cast<int>(i);
            return kSuccess;
        }
        return kErrWrongParameter;
    }

    void OnActiveChanged(bool active) override {
        Command("C");
        if (!active || rateCode_ < 0) return;
        char setRate[16];
        std::snprintf(setRate, sizeof(setRate), "S%d", rateCode_);
        Command(setRate);
        Command(IsSilent() ? "L" : "O");
    }

    XLstatus SendToWire(const CanFrame& frame) override {
        char line[kSlcanMaxLine];
        std::size_t length = EncodeSlcanFrameLine(frame, line);
        line[length++] = kCommandEnd;
        std::lock_guard lock(writeMutex_);
        CaptureFrame(frame);  // before the wire: the answer to it may be captured at once
        return WriteAll(line, length) ? kSuccess : kErrTxNotPossible;
    }

    bool OnReadable(int fd) override {
        char chunk[256];
        for (;;) {
            const ssize_t size = read(fd, chunk, sizeof(chunk));
            if (size == 0) return false;
            if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            for (ssize_t i = 0; i < size; ++i) TakeChar(chunk[i]);
        }
    }

  private:
    void TakeChar(char c) {
        if (c == kCommandEnd || c == kErrorBell || c == '\n') {
            CanFrame frame;
            if (!overlong_ && ParseSlcanFrameLine({line_, lineLength_}, frame)) {
                CaptureFrame(frame);
                DeliverFromWire(frame);
            }
            lineLength_ = 0;
            overlong_ = false;
            return;
        }
        // An over-long line is garbage; it is dropped at its terminator.
        if (lineLength_ == kSlcanMaxLine) {
            overlong_ = true;
            return;
        }
        line_[lineLength_++] = c;
    }

    void Command(const char* text) {
        char line[8];
        const int length = std::snprintf(line, sizeof(line), "%s%c", text, kCommandEnd);
        std::lock_guard lock(writeMutex_);
        WriteAll(line, static_cast<size_t>(length));
    }

    std::mutex writeMutex_;
    int rateCode_ = -1;
    bool overlong_ = false;
    char line_[kSlcanMaxLine] = {};
    size_t lineLength_ = 0;
};

}  // namespace

std::shared_ptr<XlSource> LoadSlcanSource(const std::string& selector, const std::string& device) {
    const int probe = OpenSerial(device);
    if (probe < 0) return nullptr;
    close(probe);
    return MakePortSource(selector, [device](XLstatus& status) -> std::shared_ptr<XlPort> {
        const int fd = OpenSerial(device);
        if (fd < 0) {
            status = kErrCannotOpenDriver;
            return nullptr;
        }
        return std::make_shared<SlcanXlPort>(fd);
    });
}

}  // namespace diagbridge::xl
