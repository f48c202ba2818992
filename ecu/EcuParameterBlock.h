#pragma once
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

// KWP2000 part: addresses, timing and time-outs of the K-line stack.
struct KwpParameterBlock {
    ServiceTimeouts timeouts;
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
