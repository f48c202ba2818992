#include "platform/Utf16.h"

#include <gtest/gtest.h>

namespace diagbridge::platform {
namespace {

TEST(Utf16Test, RoundTripsUmlautsAndAstralCharacters) {
    const std::string text = "Pr\xC3\xBC\x66stand \xF0\x9F\x9A\x8C";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
}

TEST(Utf16Test, MalformedInputBecomesReplacementCharacters) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"\xC3", "\xEF\xBF\xBD"},          // truncated sequence
        {"\xFF\x41", "\xEF\xBF\xBD\x41"},  // invalid lead byte
        {"\xED\xA0\x80", "\xEF\xBF\xBD"},  // encoded surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(c.input)), c.expected);
    }
}

}  // namespace
}  // namespace diagbridge::platform
