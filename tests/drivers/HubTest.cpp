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

}  // namespace
}  // namespace diagbridge::xl
