#include "platform/FileRead.h"

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#else
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace diagbridge::platform {

#ifdef _WIN32

FileReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes,
                               std::string& content) {
    std::error_code error;
    const std::filesystem::path file(path);
    if (!std::filesystem::exists(file, error)) return FileReadResult::kCannotOpen;
    if (!std::filesystem::is_regular_file(file, error)) return FileReadResult::kNotRegular;
    const auto size = std::filesystem::file_size(file, error);
    if (error) return FileReadResult::kCannotOpen;
    if (size > maxBytes) return FileReadResult::kTooLarge;
    std::ifstream in(file, std::ios::binary);
    if (!in) return FileReadResult::kCannotOpen;
    content.assign(static_cast<std::size_t>(size), '\0');
    in.read(content.data(), static_cast<std::streamsize>(size));
    content.resize(static_cast<std::size_t>(in.gcount()));
    return FileReadResult::kOk;
}

#else

namespace {
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};
}  // namespace

FileReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes,
                               std::string& content) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) return FileReadResult::kCannotOpen;
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) return FileReadResult::kCannotOpen;
    if (!S_ISREG(status.st_mode)) return FileReadResult::kNotRegular;
    if (static_cast<unsigned long long>(status.st_size) > maxBytes) {
        return FileReadResult::kTooLarge;
    }
    // One byte more than the size: a file that grows while it is read is refused, not cut.
    content.assign(static_cast<std::size_t>(status.st_size) + 1, '\0');
    std::size_t length = 0;
    while (length < content.size()) {
        const ssize_t got = ::read(file.Get(), content.data() + length, content.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return FileReadResult::kCannotOpen;
        if (got == 0) break;
        length += static_cast<std::size_t>(got);
    }
    if (length == content.size()) return FileReadResult::kTooLarge;
    content.resize(length);
    return FileReadResult::kOk;
}

#endif

}  // namespace diagbridge::platform
