#include "sim/can/CanHub.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <chrono>
#include <cstring>
#include <thread>

#include "TestFiles.h"
#include "can/CIsoTp.h"
#include "drivers/xl/CanFrame.h"
#include "drivers/xl/HubProtocol.h"
#include "drivers/xl/XlSource.h"

namespace diagbridge::xl {
namespace {

// Waits (bounded) until the hub has accepted count clients.
bool WaitForClients(const sim::CanHub& hub, size_t count) {
    for (int i = 0; i < 1000 && hub.ClientCount() != count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return hub.ClientCount() == count;
}

// Sends frame until a member takes it (bounded): a new member's announcement reaches the hub
// some time after its connection.
bool Acknowledged(CIsoTp& sender, const CCanObj& frame) {
    for (int i = 0; i < 1000; ++i) {
        if (sender.TransmitFrame(frame) == 1) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

int RawClient(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    return fd;
}

TEST(HubTest, IsoTpExchangeBetweenTwoEndpoints) {
    TempDir dir;
    const std::string path = dir.File("hub.sock");
    sim::CanHub hub;
    std::string error;
    ASSERT_TRUE(hub.Start(path, error)) << error;

    std::string failure;
    CIsoTp tester(LoadXlSource("hub:" + path, failure));
    CIsoTp ecu(LoadXlSource("hub:" + path, failure));
    ASSERT_EQ(tester.Open(500, 0x33, 0xF1, CIsoTp::kKeepAliveNone), 1);
    ASSERT_EQ(ecu.Open(500, 0xF1, 0x33, CIsoTp::kKeepAliveNone), 1);  // the ECU's view
    ASSERT_TRUE(WaitForClients(hub, 2));

    std::vector<uint8_t> request(100);
    for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> heard(4096);
    int32_t heardLength = 0;
    std::thread ecuSide([&] {
        heardLength = ecu.ReceiveMessage(heard.data(), heard.size());
        const uint8_t answer[] = {0x76, 0x01};
        ecu.TransmitMessage(answer, sizeof(answer));
    });
    uint8_t response[4096];
    int32_t length = 0;
    EXPECT_EQ(tester.Transfer(request.data(), 100, response, sizeof(response), &length), 2);
    ecuSide.join();
    ASSERT_EQ(heardLength, 100);
    heard.resize(100);
    EXPECT_EQ(heard, request);
    EXPECT_EQ(response[0], 0x76);
    EXPECT_GT(hub.ForwardedCount(), 15u);
}

TEST(HubTest, OnlyWholeFramesAreForwarded) {
    TempDir dir;
    const std::string path = dir.File("hub.sock");
    sim::CanHub hub;
    std::string error;
    ASSERT_TRUE(hub.Start(path, error)) << error;
    const int a = RawClient(path);
    const int b = RawClient(path);
    ASSERT_TRUE(WaitForClients(hub, 2));
    const uint8_t shortPacket[10] = {};
    uint8_t frame[kSocketCanFrameSize] = {0x33, 0xF1, 0xDA, 0x98, 1, 0, 0, 0, 0x3E};
    ASSERT_EQ(send(a, shortPacket, sizeof(shortPacket), 0), 10);
    ASSERT_EQ(send(a, frame, sizeof(frame), 0), 16);
    uint8_t received[32];
    ASSERT_EQ(recv(b, received, sizeof(received), 0), 16);
    EXPECT_EQ(0, std::memcmp(received, frame, 16));
    EXPECT_EQ(hub.ForwardedCount(), 1u);
    close(a);
    ASSERT_TRUE(WaitForClients(hub, 1));
    close(b);
}

TEST(HubTest, RefusesAPathThatIsNoSocket) {
    TempDir dir;
    const std::string path = dir.File("plain");
    { std::ofstream(path) << "x"; }
    sim::CanHub hub;
    std::string error;
    EXPECT_FALSE(hub.Start(path, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(path).size(), 1u);
}

// Members that announce a rate hear only frames at it, and a frame that no member takes at its
// rate is refused to its sender; a member that announces nothing hears and takes every frame.
TEST(HubTest, AnnouncedBitRatesSeparateMembersAndAcknowledgeFrames) {
    TempDir dir;
    const std::string path = dir.File("hub.sock");
    sim::CanHub hub;
    std::string error;
    ASSERT_TRUE(hub.Start(path, error)) << error;
    std::string failure;
    CIsoTp fast(LoadXlSource("hub:" + path, failure));
    CIsoTp slow(LoadXlSource("hub:" + path, failure));
    ASSERT_EQ(fast.Open(500, 0x33, 0xF1, CIsoTp::kKeepAliveNone), 1);
    ASSERT_EQ(slow.Open(250, 0xF1, 0x33, CIsoTp::kKeepAliveNone), 1);
    ASSERT_TRUE(WaitForClients(hub, 2));
    const uint8_t bytes[8] = {0x02, 0x3E, 0x00};
    const CCanObj frame(fast.TransmitId(), 8, bytes);
    EXPECT_EQ(fast.TransmitFrame(frame), 0);  // nobody at 500 kbit/s
    CCanObj heard;
    EXPECT_EQ(slow.ReceiveFrame(heard, CIsoTp::kAnyIdentifier, 50), 0);

    CIsoTp peer(LoadXlSource("hub:" + path, failure));
    ASSERT_EQ(peer.Open(500, 0xF1, 0x33, CIsoTp::kKeepAliveNone), 1);
    ASSERT_TRUE(Acknowledged(fast, frame));
    EXPECT_EQ(peer.ReceiveFrame(heard, fast.TransmitId(), 1000), 1);
    EXPECT_EQ(slow.ReceiveFrame(heard, CIsoTp::kAnyIdentifier, 50), 0);
    peer.Close();  // off the bus: it keeps its connection for the next open, and hears nothing
    EXPECT_EQ(fast.TransmitFrame(frame), 0);

    const int plain = RawClient(path);  // announces nothing
    ASSERT_TRUE(Acknowledged(fast, frame));
    uint8_t received[32];
    EXPECT_EQ(recv(plain, received, sizeof(received), 0), 16);
    close(plain);
}

// A channel that closes and opens again keeps its one hub connection.
TEST(HubTest, ReopenedChannelKeepsItsConnection) {
    TempDir dir;
    const std::string path = dir.File("hub.sock");
    sim::CanHub hub;
    std::string error;
    ASSERT_TRUE(hub.Start(path, error)) << error;
    std::string failure;
    CIsoTp tester(LoadXlSource("hub:" + path, failure));
    ASSERT_EQ(tester.Open(500, 0x33, 0xF1, CIsoTp::kKeepAliveNone), 1);
    ASSERT_TRUE(WaitForClients(hub, 1));
    const size_t accepted = hub.AcceptedCount();
    for (int i = 0; i < 20; ++i) {
        tester.Close();
        ASSERT_EQ(tester.Open(500, 0x33, 0xF1, CIsoTp::kKeepAliveNone), 1);
    }
    EXPECT_EQ(hub.AcceptedCount(), accepted);
    EXPECT_EQ(hub.ClientCount(), 1u);
}

}  // namespace
}  // namespace diagbridge::xl
