#include "sim/kline/KlineEcuLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "sim/kline/KlineBasicResponder.h"
#include "sim/kline/KwpServiceResponder.h"

namespace diagbridge::sim {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kStartCommunication = {0x81, 0x18, 0xFA, 0x81, 0x14};
const Bytes kStartAnswer = {0x83, 0xFA, 0x18, 0xC1, 0x6B, 0x8F, 0x50};
const Bytes kTesterPresent = {0x81, 0x18, 0xFA, 0x3E, 0xD1};

// The tester's end of the line, on plain system calls.
class RawTester {
  public:
    explicit RawTester(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~RawTester() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }
    void Send(const Bytes& bytes) const {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What arrives until count bytes came or waitMs of silence passed.
    Bytes Receive(size_t count, int waitMs = 2000) const {
        Bytes got;
        for (const TimedByte& byte : ReceiveTimed(count, waitMs)) got.push_back(byte.value);
        return got;
    }
    struct TimedByte {
        uint8_t value;
        std::chrono::steady_clock::time_point arrived;
    };
    // As Receive, with the time each byte was read.
    std::vector<TimedByte> ReceiveTimed(size_t count, int waitMs = 2000) const {
        std::vector<TimedByte> got;
        while (got.size() < count) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, waitMs) != 1) break;
            uint8_t byte = 0;
            if (::read(fd_, &byte, 1) != 1) break;
            got.push_back({byte, std::chrono::steady_clock::now()});
        }
        return got;
    }

  private:
    int fd_;
};

// Records the requests; answers each with 5A and the request's bytes, or stays silent.
class EchoingResponder final : public IKlineResponder {
  public:
    bool Respond(const Bytes& request, Bytes& response) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (silent_) return false;
        response = {0x5A};
        response.insert(response.end(), request.begin(), request.end());
        return true;
    }
    std::vector<Bytes> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    void SetSilent(bool silent) {
        std::lock_guard lock(mutex_);
        silent_ = silent;
    }
    KlineTiming LineTiming() const override {
        std::lock_guard lock(mutex_);
        return timing_;
    }
    void SetLineTiming(const KlineTiming& timing) {
        std::lock_guard lock(mutex_);
        timing_ = timing;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Bytes> requests_;
    bool silent_ = false;
    KlineTiming timing_;
};

class KlineEcuLineTest : public ::testing::Test {
  protected:
    void Start(bool wired, KlineLineOptions options = {}) {
        options.wired = wired;
        options.responseDelayMs = 0;
        line_ = std::make_unique<KlineEcuLine>(responder_, options);
        ASSERT_TRUE(line_->Start());
        tester_ = std::make_unique<RawTester>(line_->DevicePath());
        ASSERT_TRUE(tester_->IsOpen());
    }
    EchoingResponder responder_;
    std::unique_ptr<KlineEcuLine> line_;
    std::unique_ptr<RawTester> tester_;
};

TEST_F(KlineEcuLineTest, WiredLineEchoesThenAnswers) {
    Start(true);
    tester_->Send(kStartCommunication);
    Bytes expected = kStartCommunication;
    expected.insert(expected.end(), kStartAnswer.begin(), kStartAnswer.end());
    EXPECT_EQ(tester_->Receive(expected.size()), expected);
    EXPECT_TRUE(line_->SessionStarted());
}

TEST_F(KlineEcuLineTest, RequestsGoToTheResponderOnceStarted) {
    Start(false);
    tester_->Send({0x82, 0x18, 0xFA, 0x1A, 0x93, 0x41});
    EXPECT_TRUE(tester_->Receive(1, 200).empty());  // not awake yet
    tester_->Send(kStartCommunication);
    EXPECT_EQ(tester_->Receive(kStartAnswer.size()), kStartAnswer);
    tester_->Send({0x82, 0x18, 0xFA, 0x1A, 0x93, 0x41});
    EXPECT_EQ(tester_->Receive(7), (Bytes{0x83, 0xFA, 0x18, 0x5A, 0x1A, 0x93, 0x9C}));
    EXPECT_EQ(responder_.Requests(), (std::vector<Bytes>{{0x1A, 0x93}}));
}

// The controller answers only the testers it knows.
TEST_F(KlineEcuLineTest, ForeignTesterIsNotAnswered) {
    KlineLineOptions options;
    options.testerAddresses = {0xFA, 0xF0};
    Start(false, options);
    tester_->Send({0x81, 0x18, 0xF1, 0x81, 0x0B});
    EXPECT_TRUE(tester_->Receive(1, 200).empty());
    tester_->Send(kStartCommunication);
    EXPECT_EQ(tester_->Receive(kStartAnswer.size()), kStartAnswer);
}

// A request that begins earlier than P3min after the last answer is not heard.
TEST_F(KlineEcuLineTest, EarlyRequestIsIgnored) {
    KlineLineOptions options;
    options.minRequestGapMs = 500;
    Start(false, options);
    tester_->Send(kStartCommunication);
    ASSERT_EQ(tester_->Receive(kStartAnswer.size()), kStartAnswer);
    tester_->Send(kTesterPresent);
    EXPECT_TRUE(tester_->Receive(1, 700).empty());
    EXPECT_EQ(line_->EarlyRequests(), 1u);
    // The silence above was longer than P3min: now the request is heard.
    tester_->Send(kTesterPresent);
    EXPECT_EQ(tester_->Receive(6), (Bytes{0x82, 0xFA, 0x18, 0x5A, 0x3E, 0x2C}));
    EXPECT_EQ(responder_.Requests(), (std::vector<Bytes>{{0x3E}}));
}

// On the paced line each byte, echo and answer alike, arrives no earlier than its wire time
// allows: the request's bytes at 10400 baud, P2min after its last byte, then the answer's.
TEST_F(KlineEcuLineTest, LineModelPacesEchoAndAnswer) {
    const auto p2Min = KlineTiming{}.p2Min;
    for (const bool wired : {false, true}) {
        KlineLineOptions options;
        options.lineModel = true;
        Start(wired, options);
        const auto sent = std::chrono::steady_clock::now();
        tester_->Send(kStartCommunication);
        const size_t echoed = wired ? kStartCommunication.size() : 0;
        const auto got = tester_->ReceiveTimed(echoed + kStartAnswer.size());
        Bytes expected = wired ? kStartCommunication : Bytes{};
        expected.insert(expected.end(), kStartAnswer.begin(), kStartAnswer.end());
        ASSERT_EQ(got.size(), expected.size()) << wired;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].value, expected[i]) << wired << " byte " << i;
            const size_t answered = i < echoed ? 0 : i - echoed + 1;
            auto earliest =
                KlineLineModel::WireTime(i < echoed ? i + 1 : kStartCommunication.size(), 10400);
            if (answered > 0) earliest += p2Min + KlineLineModel::WireTime(answered, 10400);
            EXPECT_GE(got[i].arrived - sent, earliest) << wired << " byte " << i;
        }
    }
}

// The paced line keeps the P3min of the controller's timing as well.
TEST_F(KlineEcuLineTest, LineModelIgnoresRequestsBeforeTheControllersPThreeMin) {
    KlineTiming timing;
    timing.p3Min = std::chrono::milliseconds(500);
    responder_.SetLineTiming(timing);
    KlineLineOptions options;
    options.lineModel = true;
    Start(false, options);
    tester_->Send(kStartCommunication);
    ASSERT_EQ(tester_->Receive(kStartAnswer.size()), kStartAnswer);
    tester_->Send(kTesterPresent);
    EXPECT_TRUE(tester_->Receive(1, 700).empty());
    EXPECT_EQ(line_->EarlyRequests(), 1u);
    EXPECT_TRUE(responder_.Requests().empty());
    tester_->Send(kTesterPresent);
    EXPECT_EQ(tester_->Receive(6), (Bytes{0x82, 0xFA, 0x18, 0x5A, 0x3E, 0x2C}));
}

TEST_F(KlineEcuLineTest, StopCommunicationEndsTheSession) {
    Start(false);
    tester_->Send(kStartCommunication);
    tester_->Receive(kStartAnswer.size());
    tester_->Send({0x81, 0x18, 0xFA, 0x82, 0x15});
    EXPECT_EQ(tester_->Receive(5), (Bytes{0x81, 0xFA, 0x18, 0xC2, 0x55}));
    EXPECT_FALSE(line_->SessionStarted());
}

TEST_F(KlineEcuLineTest, IgnoresOtherAddressesBadChecksumsAndSilentResponders) {
    Start(false);
    tester_->Send(kStartCommunication);
    tester_->Receive(kStartAnswer.size());
    tester_->Send({0x81, 0x20, 0xFA, 0x3E, 0xD9});  // another ECU
    tester_->Send({0x81, 0x18, 0xFA, 0x3E, 0xD0});  // damaged
    responder_.SetSilent(true);
    tester_->Send(kTesterPresent);
    EXPECT_TRUE(tester_->Receive(1, 300).empty());
    EXPECT_EQ(line_->ChecksumErrors(), 1u);
    EXPECT_EQ(line_->FramesReceived(), 2u);
}

// On the bare and on the paced line alike.
TEST_F(KlineEcuLineTest, InjectedFaultsAreUsedUpInOrder) {
    KlineTiming noP3Min;
    noP3Min.p3Min = {};
    responder_.SetLineTiming(noP3Min);
    for (const bool paced : {false, true}) {
        KlineLineOptions options;
        options.lineModel = paced;
        Start(false, options);
        tester_->Send(kStartCommunication);
        tester_->Receive(kStartAnswer.size());
        // Silence, then a bad checksum; one 0 byte before each of the next two answers.
        line_->InjectFaults(
            {.silentRequests = 1, .badChecksumResponses = 1, .leadingZeroBytes = 2});
        tester_->Send({0x81, 0x18, 0xFA, 0x3E, 0xD1});
        EXPECT_TRUE(tester_->Receive(1, 300).empty()) << paced;
        tester_->Send({0x81, 0x18, 0xFA, 0x3E, 0xD1});
        EXPECT_EQ(tester_->Receive(6), (Bytes{0x00, 0x82, 0xFA, 0x18, 0x5A, 0x3E})) << paced;
        const Bytes checksum = tester_->Receive(1);
        ASSERT_EQ(checksum.size(), 1u) << paced;
        EXPECT_NE(checksum[0], 0x2C) << paced;
        tester_->Send({0x81, 0x18, 0xFA, 0x3E, 0xD1});
        EXPECT_EQ(tester_->Receive(7), (Bytes{0x00, 0x82, 0xFA, 0x18, 0x5A, 0x3E, 0x2C})) << paced;
        tester_->Send({0x81, 0x18, 0xFA, 0x3E, 0xD1});
        EXPECT_EQ(tester_->Receive(6), (Bytes{0x82, 0xFA, 0x18, 0x5A, 0x3E, 0x2C})) << paced;
    }
}

TEST_F(KlineEcuLineTest, GapInsideAFrameDropsIt) {
    Start(false);
    tester_->Send(kStartCommunication);
    tester_->Receive(kStartAnswer.size());
    tester_->Send({0x81, 0x18});
    ::usleep(300 * 1000);  // far beyond the inter-byte gap
    tester_->Send(kTesterPresent);
    EXPECT_EQ(tester_->Receive(6), (Bytes{0x82, 0xFA, 0x18, 0x5A, 0x3E, 0x2C}));
}

TEST(KlineEcuLineSeriesTest, PendingAnswersPrecedeTheAnswerAndStopEndsTheSession) {
    KwpServiceResponder responder(*FindKwpEcuModel("T60"), {});
    responder.InjectFaults({{KwpServiceFault::Kind::kPending, 0x3E, 2, 1}});
    KlineLineOptions options;
    options.responseDelayMs = 0;
    KlineEcuLine line(responder, options);
    ASSERT_TRUE(line.Start());
    RawTester tester(line.DevicePath());
    ASSERT_TRUE(tester.IsOpen());
    tester.Send(kStartCommunication);
    EXPECT_EQ(tester.Receive(kStartAnswer.size()), kStartAnswer);
    tester.Send(kTesterPresent);
    const Bytes pending = {0x83, 0xFA, 0x18, 0x7F, 0x3E, 0x78, 0xCA};
    Bytes expected = pending;
    expected.insert(expected.end(), pending.begin(), pending.end());
    expected.insert(expected.end(), {0x81, 0xFA, 0x18, 0x7E, 0x11});
    EXPECT_EQ(tester.Receive(expected.size()), expected);

    tester.Send({0x82, 0x18, 0xFA, 0x10, 0x85, 0x29});
    EXPECT_EQ(tester.Receive(6), (Bytes{0x82, 0xFA, 0x18, 0x50, 0x85, 0x69}));
    EXPECT_EQ(responder.Session(), 0x85);
    tester.Send({0x81, 0x18, 0xFA, 0x82, 0x15});
    EXPECT_EQ(tester.Receive(5), (Bytes{0x81, 0xFA, 0x18, 0xC2, 0x55}));
    EXPECT_EQ(responder.Session(), KwpServiceResponder::kDefaultSession);
}

// The answer that agrees a new speed still goes at the old one; the next exchange runs at the
// new speed.
TEST(KlineEcuLinePacedSessionTest, SessionAnswerGoesAtTheOldSpeed) {
    KwpServiceResponder responder(*FindKwpEcuModel("T60"), {});
    KlineLineOptions options;
    options.lineModel = true;
    options.responseDelayMs = 0;
    KlineEcuLine line(responder, options);
    ASSERT_TRUE(line.Start());
    RawTester tester(line.DevicePath());
    ASSERT_TRUE(tester.IsOpen());
    tester.Send(kStartCommunication);
    ASSERT_EQ(tester.Receive(kStartAnswer.size()), kStartAnswer);
    EXPECT_TRUE(tester.Receive(1, 100).empty());  // P3min
    const Bytes session = {0x83, 0x18, 0xFA, 0x10, 0x86, 0x03, 0x2E};
    const Bytes answer = {0x82, 0xFA, 0x18, 0x50, 0x86, 0x6A};
    const auto sent = std::chrono::steady_clock::now();
    tester.Send(session);
    const auto got = tester.ReceiveTimed(answer.size());
    ASSERT_EQ(got.size(), answer.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].value, answer[i]) << i;
        const auto earliest =
            KlineLineModel::WireTime(session.size() + i + 1, 10400) + KlineTiming{}.p2Min;
        EXPECT_GE(got[i].arrived - sent, earliest) << i;
    }
    EXPECT_EQ(responder.BaudRate(), 38400u);
    EXPECT_TRUE(tester.Receive(1, 100).empty());
    tester.Send(kTesterPresent);
    EXPECT_EQ(tester.Receive(5), (Bytes{0x81, 0xFA, 0x18, 0x7E, 0x11}));
}

TEST(KlineBasicResponderTest, AnswersTesterPresentAndRefusesTheRest) {
    KlineBasicResponder responder;
    Bytes response;
    ASSERT_TRUE(responder.Respond({0x3E}, response));
    EXPECT_EQ(response, (Bytes{0x7E}));
    ASSERT_TRUE(responder.Respond({0x1A, 0x93}, response));
    EXPECT_EQ(response, (Bytes{0x7F, 0x1A, 0x11}));
}

}  // namespace
}  // namespace diagbridge::sim
