#include "drivers/xl/posix/FdXlPort.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>

namespace diagbridge::xl {

FdXlPort::FdXlPort(int fd) : fd_(fd) {
    if (pipe(wake_) == 0) {
        fcntl(wake_[0], F_SETFL, O_NONBLOCK);
        fcntl(wake_[1], F_SETFL, O_NONBLOCK);
    }
}

FdXlPort::~FdXlPort() {
    StopReader();
    for (int end : wake_) {
        if (end >= 0) close(end);
    }
    if (fd_ >= 0) close(fd_);
}

void FdXlPort::StartReader() {
    reader_ = std::thread([this] { ReadLoop(); });
}

void FdXlPort::StopReader() {
    stopping_ = true;
    if (wake_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
    }
    if (reader_.joinable()) reader_.join();
}

void FdXlPort::ReadLoop() {
    while (!stopping_ && !broken_) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = poll(fds, 2, kReaderPollMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0 || (fds[1].revents & POLLIN) != 0) continue;
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !OnReadable(fd_)) {
            broken_ = true;
        }
    }
}

bool FdXlPort::WriteAll(const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0 && !broken_) {
        const ssize_t written = write(fd_, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd out = {fd_, POLLOUT, 0};
        if (poll(&out, 1, kWriteTimeoutMs) <= 0 || (out.revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
    }
    return size == 0;
}

}  // namespace diagbridge::xl
