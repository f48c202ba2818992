#pragma once
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace diagbridge::sim {

// A CAN bus shared between processes: a Unix SOCK_SEQPACKET server at a path that passes each
// packet (one 16-byte socketcan frame) from one client to all others. A client that cannot
// take a packet at once misses it, as a node that is not listening would.
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

  private:
    void Run();
    void Accept();
    void Forward(size_t from);

    std::string path_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int clientFds_[kMaxClients] = {};
    size_t clientTotal_ = 0;
    std::atomic<size_t> clients_{0};
    std::atomic<size_t> forwarded_{0};
    std::thread thread_;
};

}  // namespace diagbridge::sim
