#pragma once
#include <cstdint>
#include <string>

namespace diagbridge {

// Command codes of a service order.
enum ServiceCommand : int32_t {
    kCommandIdle = 0,
    kCommandCreateHWObject = 1,
    kCommandConnect = 2,
    kCommandDisconnect = 3,
    kCommandDeleteHWObject = 4,
    kCommandGetObjectInfo = 7,
    kCommandSetDiagnosticAccess = 10,
    kCommandSingleRequest = 11,
    kCommandUpload = 12,
    kCommandDownload = 13,
    kCommandJob = 14,
    kCommandKeepAlive = 15,
};

// Predefined-session value meaning "explicit access parameters".
constexpr int32_t kExplicitAccess = -4;

// The command record handed from a method to the worker and to every service, by value; the
// same layout is the result record coming back. A fresh order is all zero and empty.
struct ServiceOrder {
    int32_t command = kCommandIdle;
    std::string request;   // hex byte string of a single request
    std::string response;  // result record: response of the last request
    int32_t predefinedSession = 0;
    bool specialTiming = false;
    int32_t oemId = 0;
    int32_t diagnosticMode = 0;
    int32_t reserved = 0;
    int32_t baudrate = 0;
    uint8_t flag1 = 0;
    uint8_t flag2 = 0;
    uint8_t downloadOption = 0;  // copied from the ECU parameter block
    int32_t downloadType = 0;
    int32_t addressMode = 0;
    std::string hexFilePath;  // empty when the hex text was given directly
    std::string uploadHeader;
    std::string job;      // job text of DbrJob
    std::string hexText;  // Intel-HEX lines separated by "|"
    // Result record only: the attached ECU object's ident text (command 7) or upload text
    // (command 12) as the service left it.
    std::string identText;
    std::string uploadText;
};

}  // namespace diagbridge
