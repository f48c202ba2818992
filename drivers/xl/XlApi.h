#pragma once
#include <cstdint>

// The part of the Vector XL Driver Library that the CAN channel uses: the record layouts,
// the status codes and the thirteen entry points, in the library's binary form so that a
// table can be filled from vxlapi.dll, from a shared object or from one of our own sources.

#if defined(_WIN32) && !defined(_WIN64)
#define DIAGBRIDGE_XL_CALL __stdcall
#else
#define DIAGBRIDGE_XL_CALL
#endif

namespace diagbridge::xl {

using XLstatus = int16_t;
using XLportHandle = int32_t;
using XLaccess = uint64_t;

constexpr XLportHandle kInvalidPort = -1;

// Status codes (0 is success everywhere).
constexpr XLstatus kSuccess = 0;
constexpr XLstatus kErrQueueIsEmpty = 10;
constexpr XLstatus kErrQueueIsFull = 11;
constexpr XLstatus kErrWrongParameter = 101;
constexpr XLstatus kErrInvalidPortHandle = 113;
constexpr XLstatus kErrCannotOpenDriver = 201;
constexpr XLstatus kErrNoResources = 152;
constexpr XLstatus kErrNotActive = 255;

// Arguments the channel passes.
constexpr uint32_t kBusTypeCan = 1;
constexpr uint32_t kInterfaceVersion = 3;
constexpr uint32_t kActivateResetClock = 8;
constexpr int kOutputSilent = 0;
constexpr int kOutputNormal = 1;
constexpr uint32_t kAcceptanceStandard = 1;
constexpr uint32_t kAcceptanceExtended = 2;

// Event tags.
constexpr uint8_t kTagReceiveMsg = 1;
constexpr uint8_t kTagChipState = 4;
constexpr uint8_t kTagTransmitMsg = 10;

// Message flags of a received CAN message.
constexpr uint16_t kMsgFlagErrorFrame = 0x01;
constexpr uint16_t kMsgFlagOverrun = 0x02;

// Bit 31 of a message identifier marks a 29-bit identifier.
constexpr uint32_t kExtendedId = 0x80000000u;

// Chip states.
constexpr uint8_t kChipBusOff = 0x01;
constexpr uint8_t kChipErrorActive = 0x08;

constexpr int kMaxDataLength = 8;

#pragma pack(push, 8)
struct XLchipParams {
    uint32_t bitRate;  // bit/s
    uint8_t sjw;
    uint8_t tseg1;
    uint8_t tseg2;
    uint8_t sam;  // sampling count, 1 or 3
};

struct XLcanMsg {
    uint32_t id;  // kExtendedId marks 29 bits
    uint16_t flags;
    uint16_t dlc;
    uint64_t res1;
    uint8_t data[kMaxDataLength];
    uint64_t res2;
};

struct XLchipState {
    uint8_t busStatus;
    uint8_t txErrorCounter;
    uint8_t rxErrorCounter;
};

union XLtagData {
    XLcanMsg msg;
    XLchipState chipState;
};

struct XLevent {
    uint8_t tag;
    uint8_t chanIndex;
    uint16_t transId;
    uint16_t portHandle;
    uint8_t flags;
    uint8_t reserved;
    uint64_t timeStamp;  // nanoseconds
    XLtagData tagData;
};
#pragma pack(pop)

// The thirteen entry points, in the order of the library's names in the comments.
struct XlDriverTable {
    XLstatus(DIAGBRIDGE_XL_CALL* openDriver)();   // xlOpenDriver
    XLstatus(DIAGBRIDGE_XL_CALL* closeDriver)();  // xlCloseDriver
    // xlOpenPort(port out, application name, access mask, permission mask in/out, receive
    // queue size in events, interface version, bus type)
    XLstatus(DIAGBRIDGE_XL_CALL* openPort)(XLportHandle*, char*, XLaccess, XLaccess*, uint32_t,
                                           uint32_t, uint32_t);
    XLstatus(DIAGBRIDGE_XL_CALL* closePort)(XLportHandle);  // xlClosePort
    XLstatus(DIAGBRIDGE_XL_CALL* activateChannel)(XLportHandle, XLaccess, uint32_t,
                                                  uint32_t);                  // xlActivateChannel
    XLstatus(DIAGBRIDGE_XL_CALL* deactivateChannel)(XLportHandle, XLaccess);  // xlDeactivateChannel
    XLstatus(DIAGBRIDGE_XL_CALL* flushReceiveQueue)(XLportHandle);            // xlFlushReceiveQueue
    // xlReceive(port, event count in/out, events)
    XLstatus(DIAGBRIDGE_XL_CALL* receive)(XLportHandle, uint32_t*, XLevent*);
    // xlCanSetChannelMode(port, mask, tx acknowledge, tx request acknowledge)
    XLstatus(DIAGBRIDGE_XL_CALL* canSetChannelMode)(XLportHandle, XLaccess, int, int);
    XLstatus(DIAGBRIDGE_XL_CALL* canSetChannelParams)(XLportHandle, XLaccess,
                                                      XLchipParams*);  // xlCanSetChannelParams
    XLstatus(DIAGBRIDGE_XL_CALL* canSetChannelOutput)(XLportHandle, XLaccess,
                                                      int);  // xlCanSetChannelOutput
    // xlCanSetChannelAcceptance(port, mask, code, mask, identifier range)
    XLstatus(DIAGBRIDGE_XL_CALL* canSetChannelAcceptance)(XLportHandle, XLaccess, uint32_t,
                                                          uint32_t, uint32_t);
    // xlCanTransmit(port, mask, message count in/out, events)
    XLstatus(DIAGBRIDGE_XL_CALL* canTransmit)(XLportHandle, XLaccess, uint32_t*, void*);
};

// The exported names, in table order.
inline constexpr const char* kEntryPointNames[] = {"xlOpenDriver",
                                                   "xlCloseDriver",
                                                   "xlOpenPort",
                                                   "xlClosePort",
                                                   "xlActivateChannel",
                                                   "xlDeactivateChannel",
                                                   "xlFlushReceiveQueue",
                                                   "xlReceive",
                                                   "xlCanSetChannelMode",
                                                   "xlCanSetChannelParams",
                                                   "xlCanSetChannelOutput",
                                                   "xlCanSetChannelAcceptance",
                                                   "xlCanTransmit"};

}  // namespace diagbridge::xl
