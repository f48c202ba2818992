#include "faults/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace diagbridge::testing {

namespace {
constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kExitTimeout = std::chrono::seconds(5);
constexpr auto kReapPoll = std::chrono::milliseconds(10);
constexpr size_t kReadChunk = 512;
constexpr int kExitFailure = 127;
}  // namespace

SimProcess::~SimProcess() {
    Kill(SIGTERM);
}

// The child dies with this process (PR_SET_PDEATHSIG): a test that crashes leaves no ECU
// behind holding the test runner's output open.
std::optional<std::string> SimProcess::Start(const std::vector<std::string>& args,
                                             const std::string& ready) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return std::nullopt;
    std::vector<std::string> words = {DIAGBRIDGE_SIM_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(kExitFailure);
        execv(argv[0], argv.data());
        _exit(kExitFailure);
    }
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
    if (pid_ < 0) return std::nullopt;
    return WaitForLine(ready, kStartTimeout);
}

std::optional<std::string> SimProcess::WaitForLine(const std::string& text,
                                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (size_t end = buffered_.find('\n'); end != std::string::npos;
             end = buffered_.find('\n')) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            if (line.find(text) != std::string::npos) return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd readable{output_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[kReadChunk];
        const ssize_t got = read(output_, chunk, sizeof(chunk));
        if (got <= 0) return std::nullopt;
        buffered_.append(chunk, static_cast<size_t>(got));
    }
}

// The output is closed first: an ECU that prints its stored image on the way out must not
// block on a full pipe.
void SimProcess::Kill(int signal) {
    if (output_ >= 0) close(output_);
    output_ = -1;
    buffered_.clear();
    if (pid_ <= 0) return;
    kill(pid_, signal);
    Reap();
}

void SimProcess::Reap() {
    const auto deadline = std::chrono::steady_clock::now() + kExitTimeout;
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kReapPoll);
    }
    pid_ = -1;
}

std::string DevicePathOf(const std::string& line) {
    const size_t at = line.rfind(" on ");
    return at == std::string::npos ? std::string() : line.substr(at + 4);
}

}  // namespace diagbridge::testing
