#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ServiceOrder.h"

namespace diagbridge {

// Time-outs in milliseconds of the commands that can run long; every other command has
// kDefaultServiceTimeoutMs.
struct ServiceTimeouts {
    static constexpr int32_t kDefaultServiceTimeoutMs = 180000;
    int32_t singleRequest = kDefaultServiceTimeoutMs;  // commands 11 and 15
    int32_t upload = kDefaultServiceTimeoutMs;         // command 12
    int32_t download = kDefaultServiceTimeoutMs;       // command 13
    int32_t job = kDefaultServiceTimeoutMs;            // command 14

    int32_t ForCommand(int32_t command) const {
        switch (command) {
            case kCommandSingleRequest:
            case kCommandKeepAlive:
                return singleRequest;
            case kCommandUpload:
                return upload;
            case kCommandDownload:
                return download;
            case kCommandJob:
                return job;
            default:
                return kDefaultServiceTimeoutMs;
        }
    }
};

// One tester/ECU address pair the KWP2000 connect tries, with what it learnt there.
struct KwpAddressEntry {
    uint8_t testerAddress = 0;
    uint8_t ecuAddress = 0;
    int32_t found = 0;            // 1 once the ECU answered under this pair
    std::string hardwareVersion;  // answer text of 1A 93 under this pair
    std::string hardwareNumber;   // answer text of 1A 92 under this pair
};

// A download target of RequestDownload (34): 24-bit address and size, data-format byte.
struct KwpDownloadArea {
    uint32_t address = 0xFFFFFF;
    uint8_t format = 0xFF;
    uint32_t size = 0xFFFFFF;
};

// KWP2000 part: addresses, timing and time-outs of the K-line stack, and what its upload
// and download need of the model.
struct KwpParameterBlock {
    static constexpr std::size_t kAddressTableSize = 256;
    static constexpr std::size_t kOemTableSize = 16;
    static constexpr std::size_t kMaxSidRequests = 255;

    std::array<KwpAddressEntry, kAddressTableSize> addressTable;
    int32_t addressCount = 0;  // entries 0..addressCount-1 are tried at connect
    uint8_t ecuAddress = 0;    // the pair in use; overwritten by the ECU search
    uint8_t testerAddress = 0;
    int32_t foundEntry = 0;  // index of the entry the ECU answered under

    // Tester address per OEM id for the diagnostic access; below 0xF0 keeps the current one.
    std::array<uint8_t, kOemTableSize> oemTesterAddress{};

    // Timing wishes (ms) of the access-timing-parameter service.
    int32_t p2Min = 0;
    int32_t p2Max = 0;
    int32_t p3Min = 0;
    int32_t p3Max = 0;
    int32_t p4Min = 0;

    ServiceTimeouts timeouts;

    KwpDownloadArea swDownloadArea;
    KwpDownloadArea dsDownloadArea;
    bool framAvailable = false;           // the ECU reports its FRAM layout on 21 01
    bool upgradeStatusSupported = false;  // the ECU reports its upgrade state on 21 03
    uint32_t framAddress = 0;
    uint32_t framSize = 0;

    // Memory upload: the area the model expects, the local identifier of the ECU's memory
    // map (21 nn) and the piece size of each read (only its low 8 bits count).
    uint32_t uploadStart = 0;
    uint32_t uploadLength = 0;
    int32_t uploadPiece = 0;
    uint8_t memoryMapIdentifier = 0x01;
    std::string dtcStatusText = "02";  // status byte of the event-memory read (18 ss FF FF)
    // Free requests of the upload, written with "_" for the blanks ("1A_80").
    std::vector<std::string> sidRequests;

    bool scanAllAddresses = false;  // true: try every pair on every adapter

    // The tester address for oemId; 0 (keep the current one) outside the table.
    uint8_t OemTester(int32_t oemId) const {
        if (oemId < 0 || static_cast<std::size_t>(oemId) >= kOemTableSize) return 0;
        return oemTesterAddress[static_cast<std::size_t>(oemId)];
    }
    // Piece length of a memory read: the low 8 bits of uploadPiece (640 gives 128).
    uint8_t UploadPieceBytes() const { return static_cast<uint8_t>(uploadPiece & 0xFF); }
};

// One entry of a UDS model's identification table for uploads.
struct UdsIdentEntry {
    std::string request;  // e.g. "22 F1 90"
    std::string name;     // key of the upload line
    std::string scaling;  // field layout for decoding, e.g. "A17"
};

// UDS part: CAN identifiers, reboot and fill-byte options, time-outs, and what the UDS
// services need of the model (fingerprint, programming and upload layout). The UDS models
// fill it; the communication object reads its copy.
struct UdsParameterBlock {
    // 29-bit identifiers in normal fixed addressing, whatever the model calls them.
    uint32_t requestId = 0x18DA03F1;     // physical requests, tester to ECU
    uint32_t responseId = 0x18DAF103;    // responses, ECU to tester
    uint32_t functionalId = 0x18DBFFF1;  // functional requests
    int32_t reboot = 300;                // REBOOT: wait after an ECU reset, ms
    int32_t useFillByte = 0;             // USEFILLBYTE: 1 pads CAN frames to 8 bytes
    int32_t fillByte = 255;              // FILLBYTE: 0..255
    int32_t keepAliveMode = 0;  // TESTERPRESENT: 0 none, 1 physical, 2 functional tester present

    bool noFingerprint = false;
    std::string fingerprint60;  // tester fingerprint write requests tried at connect, in this
    std::string fingerprint25;  // order; empty: not written

    bool prePostProgramming = false;  // SERVICEDOWNLOAD_COMPLETE_SEQUENCE: functional sequences
                                      // around a download
    int32_t hexConversionMode = 0;    // 0 byte addressing, 1 word addressing
    int32_t programmingAccess = 2;    // access step that opens programming
    bool crcInDependencyCheck = false;

    int32_t uploadType = 3;        // 2 short form, 3 full form
    uint8_t dtcStatusMask = 0xFF;  // UPLOADDTC: status mask of the 19 xx requests
    uint32_t memoryStart = 0;      // memory area read by an upload
    uint32_t memoryLength = 0;     // bytes; 0 reads nothing
    uint32_t memoryChunk = 0x80;   // bytes per 23 request and per HEX record, 1..255
    std::string identHeading = "[IdentMem]|";
    std::vector<UdsIdentEntry> identTable;
    std::vector<std::string> sidRequests;  // UPLOADSID: hex byte strings

    // TIMEOUT_SERVICE...; every other command waits ServiceTimeouts::kDefaultServiceTimeoutMs.
    ServiceTimeouts timeouts;
};

// ISO 9141 part of the T40 line stack.
struct Iso9141ParameterBlock {
    std::string text1;
    std::string text2;
    ServiceTimeouts timeouts;
    int32_t downloadBaudrate = 9600;  // line speed of a software download: 9600, 19200, 38400
};

// The communication parameters of an ECU model, copied into its communication object at
// every connect. A value type: copy it whole.
struct EcuParameterBlock {
    int32_t word1 = 0;
    int32_t word2 = 0;
    KwpParameterBlock kwp;
    UdsParameterBlock uds;
    Iso9141ParameterBlock iso9141;
    uint8_t downloadOption = 0;  // handed to every download order
    uint8_t reservedByte = 0;
};

}  // namespace diagbridge
