#pragma once
// One table of Intel-HEX texts and how every protocol must read them: the range scan, the
// UDS block conversion and the KWP2000 download records all run it.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "support/IntelHexText.h"

namespace diagbridge::test {

struct IntelHexCase {
    const char* name;
    std::string text;
    bool wellFormed;
    // Of a well-formed text: its data bytes and their range (bytes == 0: no data).
    uint32_t bytes = 0;
    uint32_t start = 0;
    uint64_t end = 0;
};

inline std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

inline std::vector<IntelHexCase> IntelHexCases() {
    const std::string data = DataRecord(0x0010, {0x01, 0x02, 0x03, 0x04});
    const std::vector<uint8_t> eight(8, 0x5A);
    return {
        {"plain_data", HexText({data, DataRecord(0x0000, {0xAA, 0xBB}), kEndRecord}), true, 6, 0,
         0x14},
        {"linear_base", HexText({LinearRecord(0x0001), DataRecord(0, {1, 2}), kEndRecord}), true, 2,
         0x10000, 0x10002},
        {"segment_base", HexText({SegmentRecord(0x1000), DataRecord(0x20, {1, 2}), kEndRecord}),
         true, 2, 0x10020, 0x10022},
        // The last extended address record is in force; bases never add up.
        {"segment_after_linear",
         HexText({LinearRecord(0x0001), SegmentRecord(0x1000), DataRecord(0, {1}), kEndRecord}),
         true, 1, 0x10000, 0x10001},
        {"linear_after_segment",
         HexText({SegmentRecord(0x1000), LinearRecord(0x0002), DataRecord(0, {1}), kEndRecord}),
         true, 1, 0x20000, 0x20001},
        {"top_of_the_address_space",
         HexText({LinearRecord(0xFFFF), DataRecord(0xFFF8, eight), kEndRecord}), true, 8,
         0xFFFFFFF8u, uint64_t{1} << 32},
        {"start_address_records_place_nothing",
         HexText({HexRecord(0x05, 0, {0, 0, 1, 0}), data, HexRecord(0x03, 0, {0, 0, 0, 0}),
                  kEndRecord}),
         true, 4, 0x10, 0x14},
        {"lower_case_end_record", HexText({data, LowerCase(kEndRecord)}), true, 4, 0x10, 0x14},
        {"lower_case_without_colons", HexText({LowerCase(data.substr(1)), "00000001ff"}), true, 4,
         0x10, 0x14},
        {"line_breaks_and_blank_lines", " " + data + "\r\n\r\n" + kEndRecord + "\r\n|", true, 4,
         0x10, 0x14},
        // Bars and line breaks alternate, so each separator is found past the other one.
        {"bars_and_line_breaks_alternate",
         data + "\n" + DataRecord(0x0000, {0xAA, 0xBB}) + "|\n|" + DataRecord(0x0020, {1}) + "\n" +
             kEndRecord,
         true, 7, 0, 0x21},
        {"no_data", HexText({LinearRecord(0x0001), kEndRecord}), true},
        {"empty_data_record", HexText({DataRecord(0x0010, {}), kEndRecord}), true},
        {"empty_text", "", false},
        {"no_end_record", data, false},
        {"record_after_the_end", HexText({data, kEndRecord, DataRecord(0x0020, {1})}), false},
        {"second_end_record", HexText({data, kEndRecord, kEndRecord}), false},
        {"end_record_with_data", HexText({data, HexRecord(0x01, 0, {0}), kEndRecord}), false},
        {"wrong_checksum", HexText({":0400100001020304E3", kEndRecord}), false},
        {"length_byte_too_large", HexText({":0500100001020304E1", kEndRecord}), false},
        {"not_a_hex_digit", HexText({":04001000010G0304E2", kEndRecord}), false},
        {"inner_blank", HexText({":04001000 01020304E2", kEndRecord}), false},
        {"unknown_type", HexText({HexRecord(0x06, 0, {}), data, kEndRecord}), false},
        {"short_extended_address", HexText({HexRecord(0x04, 0, {1}), data, kEndRecord}), false},
        {"data_beyond_4_GiB",
         HexText(
             {LinearRecord(0xFFFF), DataRecord(0xFFF8, std::vector<uint8_t>(9, 1)), kEndRecord}),
         false},
        {"data_leaving_its_segment",
         HexText({SegmentRecord(0x1000), DataRecord(0xFFFF, {1, 2}), kEndRecord}), false},
    };
}

}  // namespace diagbridge::test
