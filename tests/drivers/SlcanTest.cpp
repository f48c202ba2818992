// The slcan source over pseudo-terminals: against the test itself playing the adapter, and
// against python-can's slcan interface as an independent peer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "PtyPair.h"
#include "TestFiles.h"
#include "can/CIsoTp.h"
#include "drivers/xl/XlSource.h"

namespace diagbridge::xl {
namespace {

std::shared_ptr<XlSource> Slcan(const std::string& path) {
    std::string failure;
    return LoadXlSource("slcan:" + path, failure);
}

TEST(SlcanTest, OpensTheAdapterAndSpeaksLawicelAscii) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    CIsoTp channel(Slcan(pty.SlavePath()));
    ASSERT_TRUE(channel.IsLoaded());
    ASSERT_EQ(channel.Open(500, 0x33, 0xF1, CIsoTp::kKeepAliveNone), 1);
    // Closed first, then 500 kbit/s (S6) and open.
    std::string commands;
    while (commands.find("O\r") == std::string::npos) {
        const std::string line = pty.ReadUntil('\r', 2000);
        ASSERT_FALSE(line.empty()) << commands;
        commands += line;
    }
    EXPECT_EQ(commands, "C\rC\rS6\rO\r");

    CCanObj frame(0x98DA33F1u, 8, reinterpret_cast<const uint8_t*>("\x02\x3E\x80\0\0\0\0\0"));
    ASSERT_EQ(channel.TransmitFrame(frame), 1);
    EXPECT_EQ(pty.ReadUntil('\r', 2000), "T18DA33F18023E800000000000\r");

    // From the adapter: noise, acknowledgements, an error bell and a timestamped frame
    // around the one frame for us; standard frames are filtered out by the channel.
    pty.Write(
        "\r\a"
        "z\r"
        "Tgarbage\r"
        "T18DAF1332\r"
        "t7E80201\r"
        "T18DAF1333037E00AB12\r");
    CCanObj received;
    ASSERT_EQ(channel.ReceiveFrame(received, 0x98DAF133, 5000), 1);
    EXPECT_EQ(received.length, 3);
    EXPECT_EQ(received.data[0], 0x03);
    EXPECT_EQ(received.data[1], 0x7E);
    EXPECT_EQ(received.data[2], 0x00);
    EXPECT_EQ(channel.ReceiveFrame(received, CIsoTp::kAnyIdentifier, 0), 0);
    channel.Close();
    EXPECT_EQ(pty.ReadUntil('\r', 2000), "C\r");
}

TEST(SlcanTest, RatesTheAdapterCannotRunAreRefused) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto source = Slcan(pty.SlavePath());
    ASSERT_TRUE(source);
    XLportHandle port = kInvalidPort;
    XLaccess permission = 1;
    char name[] = "xlCANcontrol";
    ASSERT_EQ(source->table.openPort(&port, name, 1, &permission, 256, 3, 1), kSuccess);
    for (uint32_t rate : {666666u, 400000u, 33333u}) {
        XLchipParams params{rate, 1, 1, 1, 1};
        EXPECT_EQ(source->table.canSetChannelParams(port, 1, &params), kErrWrongParameter) << rate;
    }
    XLchipParams params{250000, 1, 11, 4, 1};
    EXPECT_EQ(source->table.canSetChannelParams(port, 1, &params), kSuccess);
    source->table.closePort(port);
}

// Copies bytes between two pty masters, so that two programs each on a slave end see one
// serial line between them.
class NullModem {
  public:
    NullModem(int a, int b) : thread_([this, a, b] { Run(a, b); }) {}
    ~NullModem() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run(int a, int b) {
        while (!stop_) {
            pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
            if (poll(fds, 2, 20) <= 0) continue;
            Copy(fds[0], b);
            Copy(fds[1], a);
        }
    }
    static void Copy(const pollfd& from, int to) {
        if ((from.revents & POLLIN) == 0) return;
        char buffer[256];
        const ssize_t size = read(from.fd, buffer, sizeof(buffer));
        if (size > 0) [[maybe_unused]]
            const ssize_t written = write(to, buffer, size);
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A tiny ECU on python-can's slcan interface: answers each single-frame request on 18DA33F1
// with a positive response of the same data; an ECU reset (11) ends it.
const char* const kPythonEcu = R"(
import sys
import can
bus = can.Bus(interface="slcan", channel=sys.argv[1], bitrate=500000, sleep_after_open=0)
print("ready", flush=True)
while True:
    msg = bus.recv(timeout=10)
    if msg is None:
        sys.exit(3)
    if not msg.is_extended_id or msg.arbitration_id != 0x18DA33F1:
        continue
    length = msg.data[0] & 0x0F
    request = list(msg.data[1:1 + length])
    response = [request[0] + 0x40] + request[1:]
    bus.send(can.Message(arbitration_id=0x18DAF133, is_extended_id=True,
                         data=[len(response)] + response + [0x55] * (7 - len(response))))
    print(" ".join("%02X" % b for b in msg.data), flush=True)
    if request[0] == 0x11:
        break
bus.shutdown()
)";

TEST(SlcanTest, ExchangeWithPythonCan) {
    if (std::system("/usr/bin/python3 -c 'import can.interfaces.slcan' 2>/dev/null") != 0) {
        GTEST_SKIP() << "python3-can is not installed";
    }
    PtyPair ours;
    PtyPair theirs;
    ASSERT_TRUE(ours.Ok() && theirs.Ok());
    NullModem modem(ours.Master(), theirs.Master());
    TempDir dir;
    const std::string script = dir.File("ecu.py");
    { std::ofstream(script) << kPythonEcu; }
    const std::string command =
        "timeout 60 /usr/bin/python3 " + script + " " + theirs.SlavePath() + " 2>&1";
    FILE* peer = popen(command.c_str(), "r");
    ASSERT_NE(peer, nullptr);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof(line), peer), nullptr);
    ASSERT_STREQ(line, "ready\n");

    CIsoTp channel(Slcan(ours.SlavePath()));
    ASSERT_EQ(channel.Open(500, 0x33, 0xF1, CIsoTp::kKeepAliveNone), 1);
    IsoTpOptions options;
    options.frameTimeoutMs = 10000;  // a Python peer on a loaded machine
    channel.SetOptions(options);
    uint8_t response[4096];
    int32_t length = 0;
    const uint8_t read[] = {0x22, 0xF1, 0x90};
    EXPECT_EQ(channel.Transfer(read, 3, response, sizeof(response), &length), 3);
    EXPECT_EQ(std::vector<uint8_t>(response, response + 3),
              (std::vector<uint8_t>{0x62, 0xF1, 0x90}));
    const uint8_t reset[] = {0x11, 0x01};
    EXPECT_EQ(channel.Transfer(reset, 2, response, sizeof(response), &length), 2);
    EXPECT_EQ(response[0], 0x51);
    channel.Close();

    std::string heard;
    while (std::fgets(line, sizeof(line), peer) != nullptr) heard += line;
    EXPECT_EQ(pclose(peer), 0) << heard;
    EXPECT_EQ(heard, "03 22 F1 90 00 00 00 00\n02 11 01 00 00 00 00 00\n");
}

}  // namespace
}  // namespace diagbridge::xl
