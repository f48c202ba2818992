// A whole UDS session captured from the bus and read back by Wireshark's own ISO 15765
// reassembly and UDS dissector (when tshark is installed).
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HexTestSupport.h"
#include "UdsEndToEndSupport.h"

extern char** environ;

namespace diagbridge::e2e {
namespace {

// Run only in a child process by the test below, with DIAGBRIDGE_CAN_PCAP set.
TEST(UdsCaptureChild, DISABLED_WholeSession) {
    ASSERT_NE(std::getenv("DIAGBRIDGE_CAN_PCAP"), nullptr);
    UdsSession session;
    ASSERT_EQ(session.Connect(), 0);
    int32_t result = 1;
    session.Request("22 F1 90", result);
    ASSERT_EQ(result, 0);
    session.Ident(result);
    ASSERT_EQ(result, 0);
    session.Upload(result);
    ASSERT_EQ(result, 0);
    std::string hex = test::LinearRecord(0x0001);  // 4000 bytes: two transfers
    for (uint16_t address = 0; address < 4000; address += 250) {
        hex += "|" + test::DataRecord(address, test::Ramp(250, uint8_t(address)));
    }
    ASSERT_EQ(session.Download(hex + "|" + test::kEndRecord), 0);
}

std::string Output(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[1024];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    pclose(pipe);
    return output;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(UdsCaptureTest, WiresharkDecodesTheWholeSession) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tshark";
    char pattern[] = "/tmp/diagbridge-uds-capture-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/session.pcap";
    const std::string variable = "DIAGBRIDGE_CAN_PCAP=" + path;
    std::vector<char*> env = {const_cast<char*>(variable.c_str())};
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char filter[] = "--gtest_filter=UdsCaptureChild.*";
    char disabled[] = "--gtest_also_run_disabled_tests";
    char* argv[] = {self, filter, disabled, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self, nullptr, nullptr, argv, env.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::string dissect = "tshark -r " + path +
                                " -o iso15765.can.extended_ids:0x18da0000-0x18dbffff"
                                " -d iso15765.subdissector,uds";
    const std::string uds = Output(dissect + " -Y uds 2>/dev/null");
    const std::string problems =
        Output(dissect + " -Y '_ws.malformed || _ws.expert.severity >= warning' 2>/dev/null");
    // A message that lost a frame shows as a first frame without a reassembled message.
    const std::string firstFrames =
        Output(dissect + " -Y 'iso15765.message_type == 1' 2>/dev/null");
    const std::string reassembled = Output(dissect + " -Y 'iso15765.fragments' 2>/dev/null");
    [[maybe_unused]] const int removed = std::system(("rm -rf " + std::string(pattern)).c_str());
    EXPECT_EQ(problems, "");
    EXPECT_GT(Occurrences(firstFrames, "\n"), 10u);
    EXPECT_EQ(Occurrences(reassembled, "\n"), Occurrences(firstFrames, "\n"));
    for (const char* service :
         {"Read Data By Identifier", "Security Access", "Diagnostic Session Control",
          "Routine Control", "Request Download", "Transfer Data", "Request Transfer Exit",
          "ECU Reset", "Read DTC Information", "Read Memory By Address", "Write Data By"}) {
        EXPECT_NE(uds.find(service), std::string::npos) << service << "\n" << uds;
    }
    // The two transfers of 4000 bytes, request and reply each, reassembled whole.
    EXPECT_EQ(Occurrences(uds, "Transfer Data"), 4u) << uds;
}

}  // namespace
}  // namespace diagbridge::e2e
