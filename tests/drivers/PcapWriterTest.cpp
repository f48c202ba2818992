#include "drivers/xl/PcapWriter.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <cstring>

#include "TestFiles.h"
#include "drivers/xl/VirtualCanBus.h"

extern char** environ;

namespace diagbridge::xl {
namespace {

constexpr size_t kFileHeader = 24;
constexpr size_t kRecord = 16 + kSocketCanFrameSize;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (uint32_t{bytes[at + 3]} << 24);
}

void ExpectFileHeader(const std::vector<uint8_t>& file) {
    ASSERT_GE(file.size(), kFileHeader);
    EXPECT_EQ(Le32(file, 0), 0xA1B2C3D4u);
    EXPECT_EQ(file[4], 2);  // version 2.4
    EXPECT_EQ(file[6], 4);
    EXPECT_EQ(Le32(file, 20), 227u);  // LINKTYPE_CAN_SOCKETCAN
}

// The socketcan body of record index.
std::vector<uint8_t> Body(const std::vector<uint8_t>& file, size_t index) {
    const size_t at = kFileHeader + index * kRecord;
    EXPECT_EQ(Le32(file, at + 8), kSocketCanFrameSize);   // captured length
    EXPECT_EQ(Le32(file, at + 12), kSocketCanFrameSize);  // original length
    return {file.begin() + static_cast<long>(at + 16),
            file.begin() + static_cast<long>(at + kRecord)};
}

TEST(PcapWriterTest, FileHeaderAndRecordsWithBigEndianIdentifiers) {
    TempDir dir;
    PcapWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("can.pcap")));
    CanFrame extended;
    extended.id = 0x18DA33F1u | kExtendedId;
    extended.dlc = 8;
    const uint8_t data[8] = {0x10, 0x14, 0x62, 0xF1, 0x90, 0x57, 0x44, 0x42};
    std::memcpy(extended.data, data, 8);
    writer.Write(extended);
    CanFrame standard;
    standard.id = 0x7E8;
    standard.dlc = 2;
    standard.data[0] = 0x01;
    standard.data[1] = 0x3E;
    writer.Write(standard);
    writer.Close();

    const std::vector<uint8_t> file = ReadFile(dir.File("can.pcap"));
    ExpectFileHeader(file);
    ASSERT_EQ(file.size(), kFileHeader + 2 * kRecord);
    EXPECT_EQ(Body(file, 0), (std::vector<uint8_t>{0x98, 0xDA, 0x33, 0xF1, 8, 0, 0, 0, 0x10, 0x14,
                                                   0x62, 0xF1, 0x90, 0x57, 0x44, 0x42}));
    EXPECT_EQ(Body(file, 1),
              (std::vector<uint8_t>{0, 0, 0x07, 0xE8, 2, 0, 0, 0, 0x01, 0x3E, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(writer.Open(dir.File("missing/dir/can.pcap")));
}

// Run only in a child process by the test below: the capture is opened once per process.
TEST(PcapCaptureChild, DISABLED_SendsOneFrameOnAVirtualBus) {
    ASSERT_NE(std::getenv("DIAGBRIDGE_CAN_PCAP"), nullptr);
    auto bus = VirtualCanBus::Named("pcap");
    VirtualXlPort sender(bus);
    VirtualXlPort receiver(bus);
    XLchipParams params{500000, 2, 11, 4, 1};
    sender.SetParams(params);
    receiver.SetParams(params);
    sender.Activate();
    receiver.Activate();
    XLevent event{};
    event.tag = kTagTransmitMsg;
    event.tagData.msg.id = 0x18DAF133u | kExtendedId;
    event.tagData.msg.dlc = 3;
    event.tagData.msg.data[0] = 0x02;
    event.tagData.msg.data[1] = 0x7E;
    ASSERT_EQ(sender.Transmit(event), kSuccess);
}

TEST(PcapWriterTest, DiagbridgeCanPcapCapturesEveryFrameOnce) {
    TempDir dir;
    const std::string path = dir.File("bus.pcap");
    const std::string variable = "DIAGBRIDGE_CAN_PCAP=" + path;
    std::vector<char*> env = {const_cast<char*>(variable.c_str())};
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(nullptr);
    char filter[] = "--gtest_filter=PcapCaptureChild.*";
    char disabled[] = "--gtest_also_run_disabled_tests";
    char self[] = "/proc/self/exe";
    char* argv[] = {self, filter, disabled, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self, nullptr, nullptr, argv, env.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::vector<uint8_t> file = ReadFile(path);
    ExpectFileHeader(file);
    ASSERT_EQ(file.size(), kFileHeader + kRecord);
    EXPECT_EQ(Body(file, 0), (std::vector<uint8_t>{0x98, 0xDA, 0xF1, 0x33, 3, 0, 0, 0, 0x02, 0x7E,
                                                   0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace diagbridge::xl
