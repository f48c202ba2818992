#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "drivers/xl/PcapWriter.h"
#include "drivers/xl/XlSourceKinds.h"
#include "drivers/xl/posix/FdXlPort.h"

namespace diagbridge::xl {

namespace {

// Linux CAN socket numbers, defined here because the build host's headers need not have them.
constexpr int kPfCan = 29;
constexpr int kCanRaw = 1;

struct SockaddrCan {
    sa_family_t family;
    int ifindex;
    uint8_t addressing[16];  // transport-protocol addresses, unused by raw sockets
};

// A bound raw CAN socket on interfaceName, non-blocking; -1 when there is none.
int OpenCanSocket(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.size() >= IF_NAMESIZE) return -1;
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) return -1;
    const int fd = socket(kPfCan, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, kCanRaw);
    if (fd < 0) return -1;
    SockaddrCan address{};
    address.family = kPfCan;
    address.ifindex = static_cast<int>(index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A channel on a SocketCAN interface; the bit rate is the interface's own (set by ip link).
class SocketCanXlPort final : public FdXlPort {
  public:
    explicit SocketCanXlPort(int fd) : FdXlPort(fd) { StartReader(); }
    ~SocketCanXlPort() override { StopReader(); }

  protected:
    XLstatus SendToWire(const CanFrame& frame) override {
        uint8_t record[kSocketCanFrameSize];
        EncodeSocketCan(frame, IdByteOrder::kHost, record);
        CaptureFrame(frame);  // before the wire: the answer to it may be captured at once
        return WriteAll(record, sizeof(record)) ? kSuccess : kErrTxNotPossible;
    }

    bool OnReadable(int fd) override {
        for (;;) {
            uint8_t record[kSocketCanFrameSize];
            const ssize_t size = read(fd, record, sizeof(record));
            if (size == 0) return false;
            if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            CanFrame frame;
            if (!DecodeSocketCan(record, static_cast<size_t>(size), frame)) continue;
            CaptureFrame(frame);
            DeliverFromWire(frame);
        }
    }
};

}  // namespace

std::shared_ptr<XlSource> LoadSocketCanSource(const std::string& selector,
                                              const std::string& interfaceName) {
    const int probe = OpenCanSocket(interfaceName);
    if (probe < 0) return nullptr;
    close(probe);
    return MakePortSource(selector, [interfaceName](XLstatus& status) -> std::shared_ptr<XlPort> {
        const int fd = OpenCanSocket(interfaceName);
        if (fd < 0) {
            status = kErrCannotOpenDriver;
            return nullptr;
        }
        return std::make_shared<SocketCanXlPort>(fd);
    });
}

}  // namespace diagbridge::xl
