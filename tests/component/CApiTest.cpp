#include "component/diagbridge_c.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "component/DbrComponent.h"
#include "support/FakeRegistry.h"

namespace {

TEST(CApiTest, VersionAndTablesThroughTheHandle) {
    DbrComponent* c = DbrCreate();
    ASSERT_NE(c, nullptr);
    char version[128];
    EXPECT_EQ(DbrCGetVersion(c, nullptr, version, sizeof(version)), 0);
    EXPECT_TRUE(std::regex_match(version, std::regex(R"(\S+ \d+\.\d+\.\d+\.\d+)")));
    char tiny[4];
    EXPECT_EQ(DbrCGetVersion(c, "", tiny, sizeof(tiny)), DBR_E_BUFFER);
    EXPECT_STREQ(tiny, "");
    int32_t id = 0;
    EXPECT_EQ(DbrCCreateCommunicationObject(c, "NOT_A_PROTOCOL", &id), 0);
    EXPECT_EQ(id, -3);
    int32_t result = 0;
    char info[64] = "stale";
    EXPECT_EQ(DbrCGetConfiguration(c, 1000, info, sizeof(info), &result), 0);
    EXPECT_STREQ(info, "");
    EXPECT_EQ(result, -7);
    const uint8_t request[] = {0x22, 0xF1, 0x90};
    uint8_t response[8];
    EXPECT_EQ(DbrCSingleRequestBytes(c, 1000, 0, request, 3, response, 8, &result), 0);
    EXPECT_EQ(result, -7);
    EXPECT_EQ(DbrCConnect(nullptr, 1000, &result), DBR_E_POINTER);
    DbrEventCallbacks callbacks{};
    const uint32_t cookie = DbrAdvise(c, &callbacks);
    EXPECT_GE(cookie, 1u);
    EXPECT_EQ(DbrUnadvise(c, cookie), 0);
    EXPECT_EQ(DbrUnadvise(c, cookie), -3);
    DbrDestroy(c);
}

// DbrDestroy while a keep-alive pass is running: the pass ends during the teardown and fires
// its trace, which must reach a sink that is still there.
TEST(CApiTest, DestroyWhileAKeepAliveRunsFiresIntoLiveSinks) {
    DbrComponent* c = new DbrComponent(diagbridge::testing::FakeRegistry());
    std::atomic<int> traces{0};
    DbrEventCallbacks callbacks{};
    callbacks.context = &traces;
    callbacks.trace = [](void* context, int32_t, const char*) {
        static_cast<std::atomic<int>*>(context)->fetch_add(1);
    };
    ASSERT_GE(DbrAdvise(c, &callbacks), 1u);
    int32_t id = 0;
    ASSERT_EQ(DbrCCreateCommunicationObject(c, "FAKE|TRACE=1", &id), 0);
    auto& fake = *diagbridge::testing::FakeProtocol::lastCreated;
    fake.useKeepAlive = true;
    int32_t ecu = 0;
    ASSERT_EQ(DbrCCreateEcuObject(c, "FAKE_ECU", id, &ecu), 0);
    int32_t result = -1;
    ASSERT_EQ(DbrCConnect(c, ecu, &result), 0);
    ASSERT_EQ(result, 0);
    fake.keepAliveBusyMs.store(1000);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fake.keepAliveBusy.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(fake.keepAliveBusy.load());
    const int before = traces.load();
    DbrDestroy(c);
    EXPECT_EQ(traces.load(), before + 1);
}

}  // namespace
