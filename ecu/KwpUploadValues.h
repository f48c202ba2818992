#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ByteBuffer.h"

namespace diagbridge {

// One identification value an upload read (1A oo, or 21 ll for the Luma models).
struct KwpIdentValue {
    uint8_t option = 0;  // identification option or local identifier
    std::string value;   // text of the answer
    bool valid = true;   // false: written as an INVALID_ line
};

// Memory an upload read with ReadMemoryByAddress: the data bytes from address on.
struct KwpMemoryPiece {
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

// One area of the ECU's memory map: 24-bit start and length.
struct KwpMemoryArea {
    uint32_t start = 0;
    uint32_t length = 0;
};

// One line of a model's identification table: the word's low byte is the local
// identifier to read, name the key of the upload line.
struct KwpIdentName {
    uint16_t word = 0;
    const char* name = "";
};

// What a KWP2000 upload read into the ECU object; the model's section builders turn it
// into upload text. The stack clears it at the start of every upload.
struct KwpUploadValues {
    static constexpr std::size_t kMaxEvents = 300;

    std::string date;  // "%Y-%m-%d" of the upload; today's date when left empty
    std::vector<KwpMemoryArea> memoryMap;
    std::vector<KwpMemoryPiece> memory;
    std::vector<KwpIdentValue> ident;
    std::string eventListText;            // answer text of the DTC list read (18)
    std::vector<ShortByteBuffer> events;  // answers of the DTC status reads (17), in order
    std::vector<std::string> sidLines;    // complete "SID_%s= %s|" lines

    void Clear();
    // Reads the areas of a memory-map answer (61 nn, then 3-byte start and 3-byte length
    // pairs, most significant byte first; a trailing partial pair is ignored) into
    // memoryMap. Returns the area count, or -3 for a text that is no hex byte string or no
    // positive 21 answer.
    int32_t SetMemoryMap(const std::string& response);
    // Keeps the data bytes of a ReadMemoryByAddress answer (63 ...) read from address.
    // 0, or -3 for a text that is no hex byte string or no positive 23 answer.
    int32_t AddMemoryAnswer(uint32_t address, const std::string& response);
    // Keeps one DTC status answer as the next event. 0, or -3 for a text that is no hex
    // byte string, longer than a ShortByteBuffer, or beyond kMaxEvents events.
    int32_t AddEvent(const std::string& response);
    // The given date, or today's.
    std::string DateText() const;
};

// printf into a string (texts of the upload and of requests).
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The memory section: heading, then Intel-HEX records each introduced by "|": an extended
// linear address record (04) whenever the upper 16 address bits change, one data record
// (00) per piece (split at 255 bytes and at 64 KiB boundaries), and the end-of-file record
// closed by "|". Empty when no memory was read.
std::string KwpMemorySection(const std::string& heading, const std::vector<KwpMemoryPiece>& pieces);

// "[DataBlocks]|BlockMask=0|" and "Block%d=%06X, %06X|" per memory-map area, from 0;
// empty without areas.
std::string KwpDataBlockSection(const std::vector<KwpMemoryArea>& areas);

// heading + "|" + the SID lines; empty without lines.
std::string KwpSidSection(const std::string& heading, const std::vector<std::string>& lines);

}  // namespace diagbridge
