#include "sim/kline/KlineFrameParser.h"

#include <gtest/gtest.h>

#include <vector>

namespace diagbridge::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Result = KlineFrameParser::Result;

struct Outcome {
    std::vector<Result> results;  // every result other than kPending
    std::vector<Bytes> frames;    // data of each good frame
};

Outcome FeedAll(KlineFrameParser& parser, const Bytes& bytes) {
    Outcome outcome;
    for (const uint8_t byte : bytes) {
        const Result result = parser.Feed(byte);
        if (result == Result::kPending) continue;
        outcome.results.push_back(result);
        if (result == Result::kFrame) outcome.frames.push_back(parser.LastFrame().data);
    }
    return outcome;
}

TEST(KlineFrameParserTest, AssemblesFramesFromTheLine) {
    Bytes longFrame = {0x80, 0x18, 0xFA, 0x40};
    uint32_t sum = 0x80 + 0x18 + 0xFA + 0x40;
    for (int i = 0; i < 64; ++i) {
        longFrame.push_back(0x02);
        sum += 0x02;
    }
    longFrame.push_back(static_cast<uint8_t>(sum));
    const struct {
        const char* name;
        Bytes line;
        std::vector<Result> results;
        std::vector<Bytes> frames;
    } cases[] = {
        {"tester present", {0x81, 0x18, 0xFA, 0x3E, 0xD1}, {Result::kFrame}, {{0x3E}}},
        {"length byte", longFrame, {Result::kFrame}, {Bytes(64, 0x02)}},
        {"break byte and unaddressed bytes first",
         {0x00, 0x01, 0x81, 0x18, 0xFA, 0x3E, 0xD1},
         {Result::kFrame},
         {{0x3E}}},
        {"wrong checksum", {0x81, 0x18, 0xFA, 0x3E, 0xD2}, {Result::kBadChecksum}, {}},
        {"two frames back to back",
         {0x81, 0x18, 0xFA, 0x3E, 0xD1, 0x82, 0x18, 0xFA, 0x1A, 0x93, 0x41},
         {Result::kFrame, Result::kFrame},
         {{0x3E}, {0x1A, 0x93}}},
        {"length byte 0 drops the frame",
         {0x80, 0x18, 0xFA, 0x00, 0x81, 0x18, 0xFA, 0x3E, 0xD1},
         {Result::kFrame},
         {{0x3E}}},
    };
    for (const auto& c : cases) {
        KlineFrameParser parser;
        const Outcome outcome = FeedAll(parser, c.line);
        EXPECT_EQ(outcome.results, c.results) << c.name;
        EXPECT_EQ(outcome.frames, c.frames) << c.name;
        EXPECT_FALSE(parser.InFrame()) << c.name;
    }
}

TEST(KlineFrameParserTest, KeepsTheAddresses) {
    KlineFrameParser parser;
    FeedAll(parser, {0x82, 0x18, 0xF1, 0x1A, 0x93, 0x38});
    EXPECT_EQ(parser.LastFrame().target, 0x18);
    EXPECT_EQ(parser.LastFrame().source, 0xF1);
}

TEST(KlineFrameParserTest, ResetDropsAPartFrame) {
    KlineFrameParser parser;
    FeedAll(parser, {0x82, 0x18, 0xFA, 0x1A});
    EXPECT_TRUE(parser.InFrame());
    parser.Reset();
    const Outcome outcome = FeedAll(parser, {0x81, 0x18, 0xFA, 0x3E, 0xD1});
    EXPECT_EQ(outcome.frames, (std::vector<Bytes>{{0x3E}}));
}

// Frames the controller sends, written out by hand.
TEST(KlineFrameParserTest, BuildsTheControllersFrames) {
    EXPECT_EQ(KlineFrameParser::Build(0xFA, 0x18, {0x7E}),
              (std::vector<uint8_t>{0x81, 0xFA, 0x18, 0x7E, 0x11}));
    EXPECT_EQ(KlineFrameParser::Build(0xFA, 0x18, {0xC1, 0x6B, 0x8F}),
              (std::vector<uint8_t>{0x83, 0xFA, 0x18, 0xC1, 0x6B, 0x8F, 0x50}));
    // From 64 data bytes on the length goes into a byte of its own.
    const std::vector<uint8_t> long64(64, 0x01);
    const std::vector<uint8_t> frame = KlineFrameParser::Build(0xFA, 0x18, long64);
    ASSERT_EQ(frame.size(), 4u + 64u + 1u);
    EXPECT_EQ((std::vector<uint8_t>(frame.begin(), frame.begin() + 4)),
              (std::vector<uint8_t>{0x80, 0xFA, 0x18, 0x40}));
    EXPECT_EQ(frame.back(), 0x12);  // 80 + FA + 18 + 40 + 64 x 01 = 0x1D2
    EXPECT_TRUE(KlineFrameParser::Build(0xFA, 0x18, {}).empty());
    EXPECT_TRUE(KlineFrameParser::Build(0xFA, 0x18, std::vector<uint8_t>(256, 0)).empty());
}

}  // namespace
}  // namespace diagbridge::sim
