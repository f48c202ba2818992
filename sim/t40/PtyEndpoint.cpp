#include "sim/t40/PtyEndpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

namespace diagbridge::sim {

namespace {
constexpr int kSendTimeoutMs = 1000;
constexpr std::size_t kReadChunk = 512;
constexpr uint32_t kHangUpPauseMs = 10;
}  // namespace

PtyEndpoint::~PtyEndpoint() {
    Close();
}

bool PtyEndpoint::Open() {
    Close();
    if (!terminal_.Open()) return false;
    if (::pipe2(stopPipe_, O_CLOEXEC) == 0) return true;
    terminal_.Close();
    return false;
}

void PtyEndpoint::RequestStop() {
    const uint8_t wake = 1;
    if (stopPipe_[1] < 0) return;
    while (::write(stopPipe_[1], &wake, 1) < 0 && errno == EINTR) {
    }
}

void PtyEndpoint::Close() {
    for (int& fd : stopPipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    terminal_.Close();
}

PtyEndpoint::ReadResult PtyEndpoint::Read(std::vector<uint8_t>& bytes, int timeoutMs) {
    std::array<pollfd, 2> waits{{{terminal_.MasterFd(), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}}};
    for (;;) {
        const int ready = ::poll(waits.data(), waits.size(), timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || waits[1].revents != 0) return ReadResult::kStopped;
        if (ready == 0) return ReadResult::kTimeout;
        // A hang-up while the program reopens its port is no data; wait again.
        if ((waits[0].revents & POLLIN) == 0) {
            return Pause(kHangUpPauseMs) ? ReadResult::kTimeout : ReadResult::kStopped;
        }
        std::array<uint8_t, kReadChunk> chunk{};
        const ssize_t got = ::read(terminal_.MasterFd(), chunk.data(), chunk.size());
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) return ReadResult::kTimeout;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
        return ReadResult::kData;
    }
}

void PtyEndpoint::Send(const std::vector<uint8_t>& bytes) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t result =
            ::write(terminal_.MasterFd(), bytes.data() + sent, bytes.size() - sent);
        if (result > 0) {
            sent += static_cast<std::size_t>(result);
            continue;
        }
        if (result < 0 && errno == EINTR) continue;
        if (result < 0 && errno != EAGAIN) return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{terminal_.MasterFd(), POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return;
    }
}

bool PtyEndpoint::Pause(uint32_t ms) {
    pollfd wait{stopPipe_[0], POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&wait, 1, static_cast<int>(ms));
        if (ready < 0 && errno == EINTR) continue;
        return ready == 0;
    }
}

}  // namespace diagbridge::sim
