// Converts an image that srec_cat scattered over segment and linear addresses, and compares
// the blocks and CRC-32 with what python3-intelhex and zlib make of the same records.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "HexTestSupport.h"
#include "uds/Crc32.h"
#include "uds/HexImage.h"

namespace diagbridge {
namespace {

namespace fs = std::filesystem;

// Debian's Python modules are seen by the system interpreter only.
constexpr const char* kSystemPython = "/usr/bin/python3";
constexpr int kScriptSkipped = 77;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

struct ExpectedBlock {
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t crc = 0;
};

// Lines "START LENGTH CRC" in hex, the last one "TOTAL LENGTH CRC".
bool ParseExpected(const std::string& text, std::vector<ExpectedBlock>& blocks,
                   ExpectedBlock& total) {
    std::istringstream in(text);
    std::string first;
    ExpectedBlock entry;
    while (in >> first >> std::hex >> entry.length >> entry.crc) {
        if (first == "TOTAL") {
            total = entry;
            return true;
        }
        entry.start = static_cast<uint32_t>(std::stoul(first, nullptr, 16));
        blocks.push_back(entry);
    }
    return false;
}

std::vector<uint8_t> AsBytes(const UdsTransferDatablockTag& block) {
    std::vector<uint8_t> bytes;
    for (int value : test::DataBytes(block)) bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

class HexCrossCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("diagbridge-hex-" + std::to_string(random()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path dir_;
};

TEST_F(HexCrossCheckTest, SrecordImageMatchesIntelhexAndZlib) {
    if (!fs::exists(kSystemPython)) GTEST_SKIP() << kSystemPython << " not found";
    const fs::path script = DIAGBRIDGE_HEX_CROSSCHECK_SCRIPT;
    const fs::path log = dir_ / "script.log";
    const std::string command = std::string(kSystemPython) + " '" + script.string() + "' '" +
                                dir_.string() + "' > '" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << ReadFile(log);
    if (WEXITSTATUS(status) == kScriptSkipped) GTEST_SKIP() << ReadFile(log);
    ASSERT_EQ(WEXITSTATUS(status), 0) << ReadFile(log);

    std::vector<ExpectedBlock> expected;
    ExpectedBlock total;
    ASSERT_TRUE(ParseExpected(ReadFile(dir_ / "expected.txt"), expected, total));
    std::vector<UdsTransferDatablockTag> blocks;
    ASSERT_EQ(ConvertHexToDatablocks(ReadFile(dir_ / "image.txt"), 0, blocks),
              static_cast<int32_t>(total.length));

    ASSERT_EQ(blocks.size(), expected.size());
    uint32_t running = kCrc32Initial;
    for (size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        const std::vector<uint8_t> bytes = AsBytes(blocks[i]);
        EXPECT_EQ(blocks[i].start, expected[i].start);
        EXPECT_EQ(blocks[i].length, expected[i].length);
        EXPECT_EQ(bytes.size(), expected[i].length);
        EXPECT_EQ(Crc32(bytes), expected[i].crc);
        running = Crc32Update(running, bytes);
    }
    EXPECT_EQ(Crc32Final(running), total.crc);
}

}  // namespace
}  // namespace diagbridge
