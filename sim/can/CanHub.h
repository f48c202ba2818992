#pragma once
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace diagbridge::sim {

// A CAN bus shared between processes: a Unix SOCK_SEQPACKET server at a path that passes each
// packet (one 16-byte socketcan frame) from one client to all others. A client that cannot
// take a packet at once misses it, as a node that is not listening would. A client may
// announce its bit rate (drivers/xl/HubProtocol.h): it then hears only frames at its rate and
// learns for each frame it sends whether another client took it, as a CAN controller learns
// from the acknowledge bit. A client that announces nothing hears every frame.
class CanHub {
  public:
    static constexpr size_t kMaxClients = 64;

    CanHub() = default;
    ~CanHub();
    CanHub(const CanHub&) = delete;
    CanHub& operator=(const CanHub&) = delete;

    // Listens at path (a stale socket there is replaced) and starts forwarding; false with
    // error set when it cannot.
    bool Start(const std::string& path, std::string& error);
    // Stops forwarding, disconnects the clients and removes the socket.
    void Stop();
    size_t ClientCount() const { return clients_.load(); }
    size_t ForwardedCount() const { return forwarded_.load(); }
    // Connections accepted since the start.
    size_t AcceptedCount() const { return accepted_.load(); }

  private:
    void Run();
    void Accept();
    void Forward(size_t from);
    void Announce(size_t from, uint32_t bitRate);

    struct Member {
        int fd = -1;
        bool announced = false;
        uint32_t bitRate = 0;
    };
    static bool Hears(const Member& listener, const Member& sender);

    std::string path_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    Member members_[kMaxClients] = {};
    size_t clientTotal_ = 0;
    std::atomic<size_t> clients_{0};
    std::atomic<size_t> forwarded_{0};
    std::atomic<size_t> accepted_{0};
    std::thread thread_;
};

}  // namespace diagbridge::sim
