#include "engine/CConvert.h"

#include <gtest/gtest.h>

#include <string>

namespace diagbridge {
namespace {

ByteBuffer Bytes(std::initializer_list<uint8_t> bytes) {
    ByteBuffer buffer;
    for (uint8_t b : bytes) buffer.data[buffer.length++] = b;
    return buffer;
}

ShortByteBuffer Field(std::initializer_list<uint8_t> bytes) {
    ShortByteBuffer buffer;
    for (uint8_t b : bytes) buffer.data[buffer.length++] = b;
    return buffer;
}

TEST(CConvertTest, BytesToHexWritesTheCanonicalForm) {
    CConvert convert;
    convert.BytesToHex(Bytes({0x22, 0xF1, 0x90}));
    EXPECT_EQ(convert.text, "22 F1 90");
    convert.BytesToHex(ByteBuffer{});
    EXPECT_EQ(convert.text, "");
}

TEST(CConvertTest, HexToBytesReadsWellFormedTextAndRejectsTheRest) {
    struct Case {
        const char* text;
        int32_t result;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"  22 f1 90 \t", 3, {0x22, 0xF1, 0x90}},
        {"22  F1", 2, {0x22, 0xF1}},  // runs of blanks are one separator
        {"7", 1, {0x07}},
        {"", 0, {}},
        {"   ", 0, {}},
        {"22 G1", kHexMalformed, {0x22}},   // not hexadecimal: never sent as another byte
        {"22 123", kHexMalformed, {0x22}},  // more than one byte in a token
        {"0x22", kHexMalformed, {}},
        {"22,F1", kHexMalformed, {}},
    };
    for (const Case& c : cases) {
        CConvert convert;
        convert.text = c.text;
        ByteBuffer out;
        EXPECT_EQ(convert.HexToBytes(out), c.result) << c.text;
        EXPECT_EQ(std::vector<uint8_t>(out.data, out.data + out.length), c.bytes) << c.text;
    }
}

TEST(CConvertTest, HexToBytesNeverWritesPastItsBuffer) {
    std::string text;
    for (int i = 0; i < 4097; ++i) text += "AB ";
    CConvert convert;
    convert.text = text;
    ByteBuffer out;
    EXPECT_EQ(convert.HexToBytes(out), kHexMalformed);
    EXPECT_EQ(out.length, 4096);

    ShortByteBuffer small;
    EXPECT_EQ(convert.HexToBytes(small), kHexMalformed);
    EXPECT_EQ(small.length, 300);
}

TEST(CConvertTest, DecodeBytesByTypeLetter) {
    struct Case {
        ShortByteBuffer field;
        const char* type;
        const char* text;
    };
    const Case cases[] = {
        {Field({0x41, 0x00, 0x42}), "A", "AB"},
        {Field({0x4D, 0xE4, 0x72, 0xFF}), "A", "M\xC3\xA4r\xC3\xBF"},  // Latin-1 as UTF-8
        {Field({0x0A, 0xFF}), "H", "0A FF"},
        {Field({}), "H", "00"},
        {Field({0x01, 0x02}), "U", "258"},
        {Field({0xFF, 0xFF, 0xFF, 0xFF}), "U", "4294967295"},
        {Field({0x01, 0x0A, 0xFF}), "I", "110255"},
        {Field({0x14, 0x05}), "D", "2005"},
        {Field({0x14}), "B", ""},
        {Field({0x14}), "X", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeBytes(c.field, c.type), c.text) << c.type;
}

TEST(CConvertTest, DecodeScaledResponseFieldByField) {
    struct Case {
        const char* response;
        const char* scaling;
        const char* text;
    };
    const Case cases[] = {
        {"62 F1 90", "A4", ""},
        {"62 F1", "A4", ""},
        {"62 F1 90 41 42 00 43 01 02", "A4_H2", "ABC;01 02"},
        {"62 F1 90 41 42 00 43 01 02", "A4__H8", "ABC;01 02"},  // count cut to what remains
        {"62 F1 90 14 05 1B", "D2_D1_H3", "2005;27;00"},
        {"62 F1 ZZ 41", "A1", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeScaledResponse(c.response, c.scaling, ";"), c.text) << c.response;
    }
}

TEST(CConvertTest, DecodeScaledResponseOfALongResponseDecodesTheFirst300Bytes) {
    std::string response = "62 F1 90";
    for (int i = 0; i < 400; ++i) response += " 41";
    EXPECT_EQ(DecodeScaledResponse(response, "A2_H1", ";"), "AA;41");
    // The last field reaches byte 300 and no further.
    EXPECT_EQ(DecodeScaledResponse(response, "H296_A9", ";").substr(296 * 3), "A");
    EXPECT_EQ(DecodeScaledResponse(response + " ZZ", "A2", ";"), "");
}

TEST(CConvertTest, Latin1ToUtf8KeepsAsciiAndEncodesTheUpperHalf) {
    const uint8_t bytes[] = {0x41, 0x7F, 0x80, 0xC4, 0xE4, 0xFF};
    EXPECT_EQ(Latin1ToUtf8(bytes, sizeof(bytes)), "A\x7F\xC2\x80\xC3\x84\xC3\xA4\xC3\xBF");
}

TEST(CConvertTest, SwapBytes32ReversesTheOrder) {
    EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapBytes32(SwapBytes32(0xDEADBEEFu)), 0xDEADBEEFu);
}

}  // namespace
}  // namespace diagbridge
