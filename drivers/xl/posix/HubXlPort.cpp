#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "drivers/xl/HubProtocol.h"
#include "drivers/xl/PcapWriter.h"
#include "drivers/xl/XlSourceKinds.h"
#include "drivers/xl/posix/FdXlPort.h"

namespace diagbridge::xl {

namespace {

// How long a sender waits for the hub's acknowledge of one frame.
constexpr auto kAcknowledgeTimeout = std::chrono::milliseconds(1000);

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

// One channel on the hub: every packet is one socketcan frame. On the bus the channel
// announces its bit rate, off the bus it announces that it hears nothing; each frame it sends
// succeeds only when the hub reports that another member took it.
class HubXlPort final : public FdXlPort {
  public:
    explicit HubXlPort(int fd) : FdXlPort(fd) { StartReader(); }
    ~HubXlPort() override { StopReader(); }

    bool IsUsable() const { return !IsBroken(); }

  protected:
    XLstatus SendToWire(const CanFrame& frame) override {
        uint8_t packet[kSocketCanFrameSize];
        EncodeSocketCan(frame, IdByteOrder::kHost, packet);
        // One frame out and its acknowledge in before the next frame of this port goes out.
        std::lock_guard sending(sendMutex_);
        uint64_t sequence = 0;
        {
            std::lock_guard lock(mutex_);
            sequence = ++sent_;
        }
        // Captured before it goes out, so that no answer to it is ever captured before it.
        CaptureFrame(frame);
        if (!WriteAll(packet, sizeof(packet))) return kErrTxNotPossible;
        return AwaitAcknowledge(sequence) ? kSuccess : kErrTxNotPossible;
    }

    void OnActiveChanged(bool active) override {
        uint8_t packet[hub::kAnnouncementSize];
        hub::EncodeAnnouncement(active ? BitRate() : hub::kOffBus, packet);
        WriteAll(packet, sizeof(packet));
    }

    bool OnReadable(int fd) override {
        for (;;) {
            uint8_t packet[kSocketCanFrameSize + 1];
            const ssize_t size = recv(fd, packet, sizeof(packet), 0);
            if (size == 0) return false;
            if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            if (static_cast<size_t>(size) == hub::kAcknowledgeSize) {
                OnAcknowledge(packet[0] == hub::kAcknowledged);
                continue;
            }
            CanFrame frame;
            if (!DecodeSocketCan(packet, static_cast<size_t>(size), frame)) continue;
            CaptureFrame(frame);
            DeliverFromWire(frame);
        }
    }

  private:
    static constexpr size_t kResultSlots = 64;

    // Acknowledges come in the order the frames went out; a late one still counts, so that
    // the next frame is matched to its own.
    void OnAcknowledge(bool taken) {
        std::lock_guard lock(mutex_);
        ++acknowledged_;
        results_[acknowledged_ % kResultSlots] = taken;
        arrived_.notify_all();
    }

    bool AwaitAcknowledge(uint64_t sequence) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, kAcknowledgeTimeout,
                               [&] { return acknowledged_ >= sequence || IsBroken(); })) {
            return false;
        }
        return acknowledged_ >= sequence && results_[sequence % kResultSlots];
    }

    std::mutex sendMutex_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    uint64_t sent_ = 0;
    uint64_t acknowledged_ = 0;
    bool results_[kResultSlots] = {};
};

// The hub connections of one source. A channel keeps its connection from open to close; a
// closed channel's connection, off the bus, serves the next open, so that a reconnect never
// has two connections on the hub at once.
class HubConnections : public std::enable_shared_from_this<HubConnections> {
  public:
    explicit HubConnections(std::string path) : path_(std::move(path)) {}

    std::shared_ptr<XlPort> Open(XLstatus& status) {
        std::unique_ptr<HubXlPort> port = TakeIdle();
        if (!port) {
            const int fd = ConnectToHub(path_);
            if (fd < 0) {
                status = kErrCannotOpenDriver;
                return nullptr;
            }
            port = std::make_unique<HubXlPort>(fd);
        }
        port->Reset();
        return std::shared_ptr<XlPort>(port.release(), [self = shared_from_this()](XlPort* p) {
            self->GiveBack(std::unique_ptr<HubXlPort>(static_cast<HubXlPort*>(p)));
        });
    }

  private:
    std::unique_ptr<HubXlPort> TakeIdle() {
        std::lock_guard lock(mutex_);
        while (!idle_.empty()) {
            std::unique_ptr<HubXlPort> port = std::move(idle_.back());
            idle_.pop_back();
            if (port->IsUsable()) return port;
        }
        return nullptr;
    }

    void GiveBack(std::unique_ptr<HubXlPort> port) {
        if (port->IsActive()) port->Deactivate();
        if (!port->IsUsable()) return;
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(port));
    }

    const std::string path_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<HubXlPort>> idle_;
};

}  // namespace

std::shared_ptr<XlSource> LoadHubSource(const std::string& selector, const std::string& path) {
    const int probe = ConnectToHub(path);
    if (probe < 0) return nullptr;
    close(probe);
    auto connections = std::make_shared<HubConnections>(path);
    return MakePortSource(selector,
                          [connections](XLstatus& status) { return connections->Open(status); });
}

}  // namespace diagbridge::xl
