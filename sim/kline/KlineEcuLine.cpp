#include "sim/kline/KlineEcuLine.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

namespace diagbridge::sim {

namespace {
constexpr uint8_t kStartCommunication = 0x81;
constexpr uint8_t kStopCommunication = 0x82;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr size_t kMaxResponseData = 255;
constexpr size_t kReadChunk = 256;
// An idle line still looks for Stop this often.
constexpr int kIdlePollMs = 1000;
// A program that stopped reading its port must not hold the line forever.
constexpr int kSendTimeoutMs = 1000;
}  // namespace

KlineEcuLine::KlineEcuLine(IKlineResponder& responder, KlineLineOptions options)
    : responder_(responder), options_(options), responseDelayMs_(options.responseDelayMs) {}

KlineEcuLine::~KlineEcuLine() {
    Stop();
}

bool KlineEcuLine::Start() {
    Stop();
    if (!terminal_.Open()) return false;
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        terminal_.Close();
        return false;
    }
    thread_ = std::thread(&KlineEcuLine::Run, this);
    return true;
}

void KlineEcuLine::Stop() {
    if (thread_.joinable()) {
        const uint8_t wake = 1;
        while (::write(stopPipe_[1], &wake, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int& fd : stopPipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    terminal_.Close();
}

void KlineEcuLine::InjectFaults(const KlineFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void KlineEcuLine::SetResponseDelay(uint32_t ms) {
    std::lock_guard lock(mutex_);
    responseDelayMs_ = ms;
}

bool KlineEcuLine::TakeFault(uint32_t KlineFaults::*counter) {
    std::lock_guard lock(mutex_);
    if (faults_.*counter == 0) return false;
    --(faults_.*counter);
    return true;
}

void KlineEcuLine::Run() {
    std::array<uint8_t, kReadChunk> chunk{};
    for (;;) {
        std::array<pollfd, 2> waits{{{terminal_.MasterFd(), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}}};
        const int timeout =
            parser_.InFrame() ? static_cast<int>(options_.interByteGapMs) : kIdlePollMs;
        const int ready = ::poll(waits.data(), waits.size(), timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || waits[1].revents != 0) return;
        if (ready == 0) {
            parser_.Reset();
            continue;
        }
        if ((waits[0].revents & POLLIN) == 0) return;
        const ssize_t got = ::read(terminal_.MasterFd(), chunk.data(), chunk.size());
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) return;
        if (options_.wired) Send(chunk.data(), static_cast<size_t>(got));
        for (ssize_t i = 0; i < got; ++i) {
            if (!parser_.InFrame()) frameStartedAt_ = std::chrono::steady_clock::now();
            const KlineFrameParser::Result result = parser_.Feed(chunk[static_cast<size_t>(i)]);
            if (result == KlineFrameParser::Result::kBadChecksum) ++checksumErrors_;
            if (result == KlineFrameParser::Result::kFrame) HandleFrame(parser_.LastFrame());
        }
    }
}

bool KlineEcuLine::TesterAccepted(uint8_t tester) const {
    const std::vector<uint8_t>& testers = options_.testerAddresses;
    return testers.empty() || std::find(testers.begin(), testers.end(), tester) != testers.end();
}

void KlineEcuLine::HandleFrame(const KlineFrameParser::Frame& frame) {
    if (frame.target != options_.ecuAddress || !TesterAccepted(frame.source)) return;
    // A request that began earlier than P3min after the last answer is not heard.
    if (frameStartedAt_ - answeredAt_ < std::chrono::milliseconds(options_.minRequestGapMs)) {
        ++earlyRequests_;
        return;
    }
    ++framesReceived_;
    if (TakeFault(&KlineFaults::silentRequests)) return;
    std::vector<std::vector<uint8_t>> responses;
    if (!Answer(frame, responses)) return;
    for (const std::vector<uint8_t>& response : responses) {
        if (response.empty() || response.size() > kMaxResponseData) return;
        uint32_t delay = 0;
        {
            std::lock_guard lock(mutex_);
            delay = responseDelayMs_;
        }
        if (!Pause(delay)) return;
        SendResponse(frame.source, response);
    }
}

bool KlineEcuLine::Answer(const KlineFrameParser::Frame& frame,
                          std::vector<std::vector<uint8_t>>& responses) {
    const uint8_t service = frame.data.at(0);
    if (service == kStartCommunication) {
        started_ = true;
        responder_.CommunicationChanged(true);
        responses.push_back(
            {static_cast<uint8_t>(service + kPositiveOffset), kKeyByte1, kKeyByte2});
        return true;
    }
    if (!started_ && options_.requireStartCommunication) return false;
    if (service == kStopCommunication) {
        started_ = false;
        responder_.CommunicationChanged(false);
        responses.push_back({static_cast<uint8_t>(service + kPositiveOffset)});
        return true;
    }
    return responder_.RespondSeries(frame.data, responses);
}

void KlineEcuLine::SendResponse(uint8_t tester, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> frame = KlineFrameParser::Build(tester, options_.ecuAddress, data);
    if (frame.empty()) return;
    if (TakeFault(&KlineFaults::badChecksumResponses)) ++frame.back();
    Send(frame.data(), frame.size());
    answeredAt_ = std::chrono::steady_clock::now();
}

void KlineEcuLine::Send(const uint8_t* bytes, size_t count) {
    if (TakeFault(&KlineFaults::leadingZeroBytes)) {
        const uint8_t zero = 0;
        Send(&zero, 1);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
    size_t sent = 0;
    while (sent < count) {
        const ssize_t result = ::write(terminal_.MasterFd(), bytes + sent, count - sent);
        if (result > 0) {
            sent += static_cast<size_t>(result);
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

bool KlineEcuLine::Pause(uint32_t ms) {
    pollfd wait{stopPipe_[0], POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&wait, 1, static_cast<int>(ms));
        if (ready < 0 && errno == EINTR) continue;
        return ready == 0;
    }
}

}  // namespace diagbridge::sim
