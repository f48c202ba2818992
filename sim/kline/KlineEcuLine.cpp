#include "sim/kline/KlineEcuLine.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <ctime>

namespace diagbridge::sim {

namespace {
using Clock = KlineLineModel::Clock;
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
    RefreshTiming();
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
        if (!Receive(chunk.data(), static_cast<size_t>(got), Clock::now())) return;
    }
}

bool KlineEcuLine::Receive(const uint8_t* bytes, size_t count, TimePoint arrived) {
    if (!wire_.Paced()) {
        if (options_.wired) Send(bytes, count);
        for (size_t i = 0; i < count; ++i) Take(bytes[i], {arrived, arrived});
        return true;
    }
    // The pseudo-terminal hands the request over at once; on the wire each byte, and its
    // echo on a wired adapter, comes one byte time after the one before.
    for (size_t i = 0; i < count; ++i) {
        const KlineLineModel::Span span = wire_.Occupy(arrived);
        if (!PauseUntil(span.end)) return false;
        if (options_.wired) Send(&bytes[i], 1);
        Take(bytes[i], span);
    }
    return true;
}

void KlineEcuLine::Take(uint8_t byte, KlineLineModel::Span span) {
    if (!parser_.InFrame()) frameStartedAt_ = span.start;
    frameEndedAt_ = span.end;
    const KlineFrameParser::Result result = parser_.Feed(byte);
    if (result == KlineFrameParser::Result::kBadChecksum) ++checksumErrors_;
    if (result == KlineFrameParser::Result::kFrame) HandleFrame(parser_.LastFrame());
}

bool KlineEcuLine::TesterAccepted(uint8_t tester) const {
    const std::vector<uint8_t>& testers = options_.testerAddresses;
    return testers.empty() || std::find(testers.begin(), testers.end(), tester) != testers.end();
}

void KlineEcuLine::HandleFrame(const KlineFrameParser::Frame& frame) {
    if (frame.target != options_.ecuAddress || !TesterAccepted(frame.source)) return;
    // A request that began earlier than P3min after the last answer is not heard.
    if (TooEarly(frameStartedAt_, answeredAt_, RequestGap())) {
        ++earlyRequests_;
        return;
    }
    ++framesReceived_;
    if (TakeFault(&KlineFaults::silentRequests)) return;
    std::vector<std::vector<uint8_t>> responses;
    if (!Answer(frame, responses)) return;
    // P2 runs from the end of the request, then from the end of each answer.
    TimePoint ready = wire_.Paced() ? frameEndedAt_ : Clock::now();
    for (const std::vector<uint8_t>& response : responses) {
        if (response.empty() || response.size() > kMaxResponseData) break;
        ready += ResponseDelay();
        if (!PauseUntil(ready) || !SendResponse(frame.source, response, ready)) return;
        ready = answeredAt_;
    }
    // A new session speed or timing holds from the next request on.
    RefreshTiming();
}

KlineLineModel::Duration KlineEcuLine::RequestGap() const {
    const KlineLineModel::Duration option = std::chrono::milliseconds(options_.minRequestGapMs);
    if (!options_.lineModel) return option;
    return std::max<KlineLineModel::Duration>(option, timing_.p3Min);
}

KlineLineModel::Duration KlineEcuLine::ResponseDelay() {
    std::chrono::microseconds delay{};
    {
        std::lock_guard lock(mutex_);
        delay = std::chrono::milliseconds(responseDelayMs_);
    }
    return options_.lineModel ? AnswerDelay(delay, timing_) : delay;
}

void KlineEcuLine::RefreshTiming() {
    if (!options_.lineModel) return;
    timing_ = responder_.LineTiming();
    wire_.SetBaudRate(timing_.baudRate);
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

bool KlineEcuLine::SendResponse(uint8_t tester, const std::vector<uint8_t>& data, TimePoint ready) {
    std::vector<uint8_t> frame = KlineFrameParser::Build(tester, options_.ecuAddress, data);
    if (frame.empty()) return true;
    if (TakeFault(&KlineFaults::badChecksumResponses)) ++frame.back();
    if (!wire_.Paced()) {
        Send(frame.data(), frame.size());
        answeredAt_ = Clock::now();
        return true;
    }
    if (TakeFault(&KlineFaults::leadingZeroBytes)) frame.insert(frame.begin(), 0);
    if (!SendPaced(frame.data(), frame.size(), ready)) return false;
    answeredAt_ = wire_.FreeAt();
    return true;
}

void KlineEcuLine::Send(const uint8_t* bytes, size_t count) {
    if (TakeFault(&KlineFaults::leadingZeroBytes)) {
        const uint8_t zero = 0;
        Write(&zero, 1);
    }
    Write(bytes, count);
}

bool KlineEcuLine::SendPaced(const uint8_t* bytes, size_t count, TimePoint ready) {
    for (size_t i = 0; i < count; ++i) {
        if (!PauseUntil(wire_.Occupy(ready).end)) return false;
        Write(&bytes[i], 1);
    }
    return true;
}

void KlineEcuLine::Write(const uint8_t* bytes, size_t count) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
    size_t sent = 0;
    while (sent < count) {
        const ssize_t result = ::write(terminal_.MasterFd(), bytes + sent, count - sent);
        if (result > 0) {
            sent += static_cast<size_t>(result);
            continue;
        }
        if (result < 0 && errno == EINTR) continue;
        if (result < 0 && errno != EAGAIN) return;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{terminal_.MasterFd(), POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return;
    }
}

bool KlineEcuLine::PauseUntil(TimePoint until) {
    pollfd wait{stopPipe_[0], POLLIN, 0};
    for (;;) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) return true;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(rest.count())};
        const int ready = ::ppoll(&wait, 1, &timeout, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 0) return false;
    }
}

}  // namespace diagbridge::sim
