// A stand-in for vxlapi.dll: the thirteen entry points the CAN channel calls, carried by the
// in-process virtual bus, with a virtual UDS ECU on that bus. Installed where the component
// looks for the Vector library, it lets the UDS stack run through the real loader.
// DIAGBRIDGE_STANDIN_MODEL names the ECU model (default T60.1).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "drivers/xl/XlApi.h"
#include "drivers/xl/XlSource.h"
#include "sim/uds/UdsVirtualEcu.h"

using namespace diagbridge;
using xl::XLaccess;
using xl::XLchipParams;
using xl::XLevent;
using xl::XLportHandle;
using xl::XLstatus;

namespace {

constexpr const char* kBus = "virtual:vxlapi-standin";
constexpr const char* kModelVariable = "DIAGBRIDGE_STANDIN_MODEL";
constexpr const char* kDefaultModel = "T60.1";
// The in-process bus carries frames without wire time: flow control every 32 frames keeps
// the ECU's receive queue from overflowing.
constexpr uint8_t kBlockSize = 32;

struct StandIn {
    std::shared_ptr<xl::XlSource> source;
    sim::UdsVirtualEcu* ecu = nullptr;
};

std::string Model() {
    const char* model = std::getenv(kModelVariable);
    return model == nullptr || *model == '\0' ? kDefaultModel : model;
}

StandIn Start() {
    // The ECU's thread runs in this DLL for the rest of the process: the component freeing
    // the library when its last channel closes must not unmap it.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&Start), &self);
    StandIn standIn;
    std::string error;
    standIn.source = xl::LoadXlSource(kBus, error);
    sim::UdsEcuProfile profile;
    if (!sim::ProfileForModel(Model(), profile, error)) {
        std::fprintf(stderr, "vxlapi stand-in: %s\n", error.c_str());
        return standIn;
    }
    profile.flow.blockSize = kBlockSize;
    // Lives as long as the process: its thread must not be joined under the loader lock.
    standIn.ecu = new sim::UdsVirtualEcu(profile);
    if (!standIn.ecu->Start(kBus, error)) {
        std::fprintf(stderr, "vxlapi stand-in: %s\n", error.c_str());
    }
    return standIn;
}

const xl::XlDriverTable& Table() {
    static const StandIn standIn = Start();
    return standIn.source->table;
}

}  // namespace

extern "C" {

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL xlOpenDriver() {
    return Table().openDriver();
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL xlCloseDriver() {
    return Table().closeDriver();
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlOpenPort(XLportHandle* port, char* name, XLaccess access, XLaccess* permission,
               uint32_t queueSize, uint32_t version, uint32_t busType) {
    return Table().openPort(port, name, access, permission, queueSize, version, busType);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL xlClosePort(XLportHandle port) {
    return Table().closePort(port);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlActivateChannel(XLportHandle port, XLaccess access, uint32_t busType, uint32_t flags) {
    return Table().activateChannel(port, access, busType, flags);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlDeactivateChannel(XLportHandle port, XLaccess access) {
    return Table().deactivateChannel(port, access);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL xlFlushReceiveQueue(XLportHandle port) {
    return Table().flushReceiveQueue(port);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlReceive(XLportHandle port, uint32_t* count, XLevent* events) {
    return Table().receive(port, count, events);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlCanSetChannelMode(XLportHandle port, XLaccess access, int tx, int txrq) {
    return Table().canSetChannelMode(port, access, tx, txrq);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlCanSetChannelParams(XLportHandle port, XLaccess access, XLchipParams* params) {
    return Table().canSetChannelParams(port, access, params);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlCanSetChannelOutput(XLportHandle port, XLaccess access, int mode) {
    return Table().canSetChannelOutput(port, access, mode);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlCanSetChannelAcceptance(XLportHandle port, XLaccess access, uint32_t code, uint32_t mask,
                              uint32_t range) {
    return Table().canSetChannelAcceptance(port, access, code, mask, range);
}

__declspec(dllexport) XLstatus DIAGBRIDGE_XL_CALL
    xlCanTransmit(XLportHandle port, XLaccess access, uint32_t* count, void* events) {
    return Table().canTransmit(port, access, count, events);
}

}  // extern "C"
