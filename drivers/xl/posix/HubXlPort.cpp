#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "drivers/xl/PcapWriter.h"
#include "drivers/xl/XlSourceKinds.h"
#include "drivers/xl/posix/FdXlPort.h"

namespace diagbridge::xl {

namespace {

// Connected to the hub at path, non-blocking; -1 when there is no hub.
int ConnectToHub(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return -1;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One channel on the hub: every packet is one socketcan frame.
class HubXlPort final : public FdXlPort {
  public:
    explicit HubXlPort(int fd) : FdXlPort(fd) { StartReader(); }
    ~HubXlPort() override { StopReader(); }

  protected:
    XLstatus SendToWire(const CanFrame& frame) override {
        uint8_t packet[kSocketCanFrameSize];
        EncodeSocketCan(frame, IdByteOrder::kHost, packet);
        CaptureFrame(frame);  // before the wire: the answer to it may be captured at once
        return WriteAll(packet, sizeof(packet)) ? kSuccess : kErrTxNotPossible;
    }

    bool OnReadable(int fd) override {
        for (;;) {
            uint8_t packet[kSocketCanFrameSize + 1];
            const ssize_t size = recv(fd, packet, sizeof(packet), 0);
            if (size == 0) return false;
            if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            CanFrame frame;
            if (!DecodeSocketCan(packet, static_cast<size_t>(size), frame)) continue;
            CaptureFrame(frame);
            DeliverFromWire(frame);
        }
    }
};

}  // namespace

std::shared_ptr<XlSource> LoadHubSource(const std::string& selector, const std::string& path) {
    const int probe = ConnectToHub(path);
    if (probe < 0) return nullptr;
    close(probe);
    return MakePortSource(selector, [path](XLstatus& status) -> std::shared_ptr<XlPort> {
        const int fd = ConnectToHub(path);
        if (fd < 0) {
            status = kErrCannotOpenDriver;
            return nullptr;
        }
        return std::make_shared<HubXlPort>(fd);
    });
}

}  // namespace diagbridge::xl
