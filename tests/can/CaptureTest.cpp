// A capture of an exchange read back by Wireshark's own dissectors (when tshark is installed).
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CanTestSupport.h"

extern char** environ;

namespace diagbridge::cantest {
namespace {

// Run only in a child process by the test below, with DIAGBRIDGE_CAN_PCAP set.
TEST(CaptureChild, DISABLED_ReadsTheVin) {
    ASSERT_NE(std::getenv("DIAGBRIDGE_CAN_PCAP"), nullptr);
    VirtualChannel v;
    const std::vector<ScriptedEcu::Step> script = {
        {{kRequestId, {0x03, 0x22, 0xF1, 0x90, 0, 0, 0, 0}},
         {{kResponseId, {0x10, 0x14, 0x62, 0xF1, 0x90, 'W', 'D', 'B'}}}},
        {{kRequestId, {0x30, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
         {{kResponseId, {0x21, '9', '0', '6', '2', '3', '2', '1'}},
          {kResponseId, {0x22, 'N', '1', '2', '3', '4', '5', '6'}}}},
    };
    ScriptedEcu ecu(v.bus, 500000, script);
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    const uint8_t request[] = {0x22, 0xF1, 0x90};
    uint8_t response[64];
    int32_t length = 0;
    ASSERT_EQ(v.channel.Transfer(request, 3, response, sizeof(response), &length), 20);
}

std::string Output(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    pclose(pipe);
    return output;
}

TEST(CaptureTest, WiresharkReassemblesTheCapturedExchange) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tshark";
    char pattern[] = "/tmp/diagbridge-capture-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/bus.pcap";
    const std::string variable = "DIAGBRIDGE_CAN_PCAP=" + path;
    std::vector<char*> env = {const_cast<char*>(variable.c_str())};
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char filter[] = "--gtest_filter=CaptureChild.*";
    char disabled[] = "--gtest_also_run_disabled_tests";
    char* argv[] = {self, filter, disabled, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self, nullptr, nullptr, argv, env.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::string output = Output("tshark -r " + path +
                                      " -o iso15765.can.extended_ids:0x18da0000-0x18dbffff"
                                      " -d iso15765.subdissector,uds -Y uds 2>/dev/null");
    [[maybe_unused]] const int removed = std::system(("rm -rf " + std::string(pattern)).c_str());
    EXPECT_NE(output.find("Request   Read Data By Identifier                0xf190"),
              std::string::npos)
        << output;
    EXPECT_NE(
        output.find("Reply     Read Data By Identifier                0xf190   57 44 42 39 30 "
                    "36 32 33 32 31 4e 31 32 33 34 35 36"),
        std::string::npos)
        << output;
}

}  // namespace
}  // namespace diagbridge::cantest
