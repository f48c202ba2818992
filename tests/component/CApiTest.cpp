#include "component/diagbridge_c.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

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

}  // namespace
