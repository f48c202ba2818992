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

// One tester/ECU address pair that the KWP2000 ECU search tries.
struct KwpAddressEntry {
    uint8_t testerAddress = 0xFA;
    uint8_t ecuAddress = 0x18;
    int32_t found = 0;            // 1 when the ECU answered under this pair
    std::string hardwareVersion;  // text of the answer to 1A 93 under this pair
    std::string hardwareNumber;   // text of the answer to 1A 92 under this pair
};

// A download area of a KWP2000 model: 24-bit address and size, data-format byte.
struct KwpDownloadArea {
    uint32_t address = 0xFFFFFF;
    uint8_t format = 0xFF;
    uint32_t size = 0xFFFFFF;
};

// KWP2000 part: addresses, timing and time-outs of the K-line stack, and what its services
// need of the model.
struct KwpParameterBlock {
    static constexpr std::size_t kMaxAddressEntries = 256;
    static constexpr std::size_t kOemCount = 16;

    std::array<KwpAddressEntry, kMaxAddressEntries> addressTable{};
    int32_t addressCount = 1;  // entries in use
    uint8_t ecuAddress = 0x18;
    uint8_t testerAddress = 0xFA;
    int32_t foundEntry = 0;
    // Tester address per OEM id; values from 0xF0 replace the tester address at access.
    std::array<uint8_t, kOemCount> oemTesterAddress{0xFA, 0xF0, 0xFA, 0xFA, 0xFA, 0xFA,
                                                    0xFA, 0xFA, 0xFA, 0xFA, 0xFA, 0xFA,
                                                    0xFA, 0xFA, 0xFA, 0xFA};
    // Timing parameters in ms.
    int32_t p2min = 5;
    int32_t p2max = 50;
    int32_t p3min = 0;
    int32_t p3max = 5000;
    int32_t p4min = 0;

    KwpDownloadArea swDownloadArea;
    KwpDownloadArea dsDownloadArea{0x405E00, 0xFF, 0xFFFFFF};
    bool framLayoutAvailable = true;  // the model answers 21 01 with its FRAM layout
    uint32_t framAddress = 0x400180;
    uint32_t framSize = 0xFE80;
    bool upgradeStatusSupported = false;  // the model reports its upgrade status by 21 03

    uint8_t memoryMapIdentifier = 0x02;  // local identifier of the memory map (21 nn)
    int32_t memoryPieceSize = 640;       // only the low 8 bits count
    std::string dtcStatus = "00";        // status text of the 18 request
    std::vector<std::string> sidRequests;  // free requests, "_" in place of blanks

    ServiceTimeouts timeouts;
    bool scanAllAddresses = false;  // false: the search stops at the first answer
};

// One entry of a UDS model's identification table for uploads.
struct UdsIdentEntry {
    std::string request;  // e.g. "22 F1 90"
    std::string name;     // key of the upload line
    std::string scaling;  // field layout for decoding, e.g. "A17"
};

// UDS part: CAN identifiers, reboot and fill-byte options, time-outs, and what the UDS
// services need of the model (fingerprint, programming and upload layout).
struct UdsParameterBlock {
    uint32_t requestId = 0x18DA03F1;     // TESTER: physical requests
    uint32_t responseId = 0x18DAF103;    // ECU: responses
    uint32_t functionalId = 0x18DBFFF1;  // FTESTER: functional requests
    int32_t reboot = 300;
    int32_t useFillByte = 0;
    int32_t fillByte = 255;
    int32_t testerPresent = 0;
    int32_t keepAliveMode = 0;  // 0 none, 1 physical, 2 functional tester present
    bool completeDownloadSequence = false;

    bool noFingerprint = false;
    std::string fingerprint60;  // tester fingerprint write requests tried at connect
    std::string fingerprint25;

    bool prePostProgramming = false;  // functional sequences around a download
    int32_t hexConversionMode = 0;    // 0 byte addressing, 1 word addressing
    int32_t programmingAccess = 2;    // access step that opens programming
    bool crcInDependencyCheck = false;

    int32_t uploadType = 3;            // 2 short form, 3 full form
    uint8_t dtcStatusMask = 0xFF;      // for the 19 xx requests
    uint32_t memoryStart = 0;          // memory area read by an upload
    uint32_t memoryLength = 0;
    uint32_t memoryChunk = 0x80;       // bytes per 23 request
    std::string identHeading = "[IdentMem]|";
    std::vector<UdsIdentEntry> identTable;
    std::vector<std::string> sidRequests;

    ServiceTimeouts timeouts;
};

// ISO 9141 part of the T40 line stack.
struct Iso9141ParameterBlock {
    std::string text1;
    std::string text2;
    ServiceTimeouts timeouts;
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
