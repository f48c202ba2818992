#include "sim/can/CanHub.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "drivers/xl/CanFrame.h"
#include "drivers/xl/HubProtocol.h"

namespace diagbridge::sim {

namespace {
constexpr int kBacklog = 16;

bool RemoveStaleSocket(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
    return S_ISSOCK(info.st_mode) && unlink(path.c_str()) == 0;
}
}  // namespace

CanHub::~CanHub() {
    Stop();
}

bool CanHub::Start(const std::string& path, std::string& error) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        error = "socket path empty or too long: " + path;
        return false;
    }
    if (!RemoveStaleSocket(path)) {
        error = "path exists and is not a socket: " + path;
        return false;
    }
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, kBacklog) != 0 || pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot listen at ") + path + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    path_ = path;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void CanHub::Stop() {
    if (wake_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (size_t i = 0; i < clientTotal_; ++i) close(members_[i].fd);
    clientTotal_ = 0;
    clients_ = 0;
    for (int& end : wake_) {
        if (end >= 0) close(end);
        end = -1;
    }
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
}

void CanHub::Run() {
    pollfd fds[kMaxClients + 2];
    for (;;) {
        fds[0] = {wake_[0], POLLIN, 0};
        fds[1] = {listener_, POLLIN, 0};
        for (size_t i = 0; i < clientTotal_; ++i) fds[i + 2] = {members_[i].fd, POLLIN, 0};
        const size_t watched = clientTotal_ + 2;
        if (poll(fds, watched, -1) < 0 && errno != EINTR) return;
        if ((fds[0].revents & POLLIN) != 0) return;
        // Walk backwards: Forward may drop a client by moving the last one into its place.
        for (size_t i = watched - 1; i >= 2; --i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) Forward(i - 2);
        }
        if ((fds[1].revents & POLLIN) != 0) Accept();
    }
}

void CanHub::Accept() {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return;
    if (clientTotal_ == kMaxClients) {
        close(client);
        return;
    }
    members_[clientTotal_++] = Member{client, false, 0};
    ++accepted_;
    clients_ = clientTotal_;
}

void CanHub::Forward(size_t from) {
    uint8_t packet[xl::kSocketCanFrameSize + 1];
    const ssize_t size = recv(members_[from].fd, packet, sizeof(packet), 0);
    if (size < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (size <= 0) {
        close(members_[from].fd);
        members_[from] = members_[--clientTotal_];
        clients_ = clientTotal_;
        return;
    }
    uint32_t bitRate = 0;
    if (xl::hub::DecodeAnnouncement(packet, static_cast<size_t>(size), bitRate)) {
        Announce(from, bitRate);
        return;
    }
    if (static_cast<size_t>(size) != xl::kSocketCanFrameSize) return;
    ++forwarded_;
    const Member& sender = members_[from];
    bool taken = false;
    for (size_t i = 0; i < clientTotal_; ++i) {
        if (i == from || !Hears(members_[i], sender)) continue;
        taken |= send(members_[i].fd, packet, xl::kSocketCanFrameSize, MSG_NOSIGNAL) ==
                 static_cast<ssize_t>(xl::kSocketCanFrameSize);
    }
    if (!sender.announced) return;
    const uint8_t acknowledge = taken ? xl::hub::kAcknowledged : xl::hub::kNotAcknowledged;
    send(sender.fd, &acknowledge, sizeof(acknowledge), MSG_NOSIGNAL);
}

void CanHub::Announce(size_t from, uint32_t bitRate) {
    members_[from].announced = true;
    members_[from].bitRate = bitRate;
}

// A member that never announced a rate hears everything and is heard at any rate; one that is
// off the bus hears nothing.
bool CanHub::Hears(const Member& listener, const Member& sender) {
    if (!listener.announced) return true;
    if (listener.bitRate == xl::hub::kOffBus) return false;
    return !sender.announced || listener.bitRate == sender.bitRate;
}

}  // namespace diagbridge::sim
