#include "drivers/xl/XlPortDriver.h"

#include <array>
#include <mutex>
#include <utility>

namespace diagbridge::xl {

namespace {

struct Registry {
    std::mutex mutex;
    std::array<PortFactory, XlPortDriver::kMaxFactories> factories;
    std::array<std::shared_ptr<XlPort>, XlPortDriver::kMaxPorts> ports;
};

Registry& State() {
    static Registry registry;
    return registry;
}

// Handles start at 1 so that a zeroed handle never names a port.
std::shared_ptr<XlPort> PortOf(XLportHandle handle) {
    if (handle < 1 || static_cast<size_t>(handle) > XlPortDriver::kMaxPorts) return nullptr;
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    return state.ports[static_cast<size_t>(handle) - 1];
}

XLstatus OpenPortFrom(size_t slot, XLportHandle* handle, XLaccess accessMask,
                      XLaccess* permissionMask, uint32_t rxQueueSize, uint32_t busType) {
    if (handle == nullptr || busType != kBusTypeCan || accessMask == 0) return kErrWrongParameter;
    *handle = kInvalidPort;
    Registry& state = State();
    PortFactory factory;
    {
        std::lock_guard lock(state.mutex);
        factory = state.factories[slot];
    }
    if (!factory) return kErrCannotOpenDriver;
    XLstatus status = kSuccess;
    std::shared_ptr<XlPort> port = factory(status);
    if (!port) return status == kSuccess ? kErrCannotOpenDriver : status;
    port->SetQueueCapacity(rxQueueSize);
    std::lock_guard lock(state.mutex);
    for (size_t i = 0; i < state.ports.size(); ++i) {
        if (state.ports[i]) continue;
        state.ports[i] = std::move(port);
        *handle = static_cast<XLportHandle>(i + 1);
        if (permissionMask != nullptr) *permissionMask = accessMask;
        return kSuccess;
    }
    return kErrNoResources;
}

template <size_t Slot>
XLstatus DIAGBRIDGE_XL_CALL OpenPortInSlot(XLportHandle* handle, char*, XLaccess accessMask,
                                           XLaccess* permissionMask, uint32_t rxQueueSize, uint32_t,
                                           uint32_t busType) {
    return OpenPortFrom(Slot, handle, accessMask, permissionMask, rxQueueSize, busType);
}

XLstatus DIAGBRIDGE_XL_CALL OpenDriver() {
    return kSuccess;
}
XLstatus DIAGBRIDGE_XL_CALL CloseDriver() {
    return kSuccess;
}

XLstatus DIAGBRIDGE_XL_CALL ClosePort(XLportHandle handle) {
    if (handle < 1 || static_cast<size_t>(handle) > XlPortDriver::kMaxPorts) {
        return kErrInvalidPortHandle;
    }
    std::shared_ptr<XlPort> closing;
    {
        Registry& state = State();
        std::lock_guard lock(state.mutex);
        closing = std::move(state.ports[static_cast<size_t>(handle) - 1]);
    }
    if (!closing) return kErrInvalidPortHandle;
    closing->Deactivate();
    return kSuccess;
}

template <typename Call>
XLstatus OnPort(XLportHandle handle, Call call) {
    std::shared_ptr<XlPort> port = PortOf(handle);
    if (!port) return kErrInvalidPortHandle;
    return call(*port);
}

XLstatus DIAGBRIDGE_XL_CALL ActivateChannel(XLportHandle handle, XLaccess, uint32_t busType,
                                            uint32_t) {
    if (busType != kBusTypeCan) return kErrWrongParameter;
    return OnPort(handle, [](XlPort& port) { return port.Activate(); });
}

XLstatus DIAGBRIDGE_XL_CALL DeactivateChannel(XLportHandle handle, XLaccess) {
    return OnPort(handle, [](XlPort& port) { return port.Deactivate(); });
}

XLstatus DIAGBRIDGE_XL_CALL FlushReceiveQueue(XLportHandle handle) {
    return OnPort(handle, [](XlPort& port) { return port.Flush(); });
}

XLstatus DIAGBRIDGE_XL_CALL Receive(XLportHandle handle, uint32_t* count, XLevent* events) {
    if (count == nullptr || events == nullptr || *count == 0) return kErrWrongParameter;
    return OnPort(handle, [&](XlPort& port) {
        const XLstatus status = port.Receive(events[0]);
        *count = status == kSuccess ? 1 : 0;
        return status;
    });
}

XLstatus DIAGBRIDGE_XL_CALL CanSetChannelMode(XLportHandle handle, XLaccess, int, int) {
    return OnPort(handle, [](XlPort&) { return kSuccess; });
}

XLstatus DIAGBRIDGE_XL_CALL CanSetChannelParams(XLportHandle handle, XLaccess,
                                                XLchipParams* params) {
    if (params == nullptr) return kErrWrongParameter;
    return OnPort(handle, [&](XlPort& port) { return port.SetParams(*params); });
}

XLstatus DIAGBRIDGE_XL_CALL CanSetChannelOutput(XLportHandle handle, XLaccess, int mode) {
    return OnPort(handle, [&](XlPort& port) { return port.SetOutput(mode); });
}

XLstatus DIAGBRIDGE_XL_CALL CanSetChannelAcceptance(XLportHandle handle, XLaccess, uint32_t code,
                                                    uint32_t mask, uint32_t range) {
    return OnPort(handle, [&](XlPort& port) { return port.SetAcceptance(code, mask, range); });
}

XLstatus DIAGBRIDGE_XL_CALL CanTransmit(XLportHandle handle, XLaccess, uint32_t* count,
                                        void* events) {
    if (count == nullptr || events == nullptr || *count == 0) return kErrWrongParameter;
    return OnPort(handle, [&](XlPort& port) {
        const auto* event = static_cast<const XLevent*>(events);
        const XLstatus status = port.Transmit(event[0]);
        *count = status == kSuccess ? 1 : 0;
        return status;
    });
}

template <size_t... Slots>
constexpr std::array<XlDriverTable, sizeof...(Slots)> MakeTables(std::index_sequence<Slots...>) {
    return {XlDriverTable{&OpenDriver, &CloseDriver, &OpenPortInSlot<Slots>, &ClosePort,
                          &ActivateChannel, &DeactivateChannel, &FlushReceiveQueue, &Receive,
                          &CanSetChannelMode, &CanSetChannelParams, &CanSetChannelOutput,
                          &CanSetChannelAcceptance, &CanTransmit}...};
}

constexpr std::array<XlDriverTable, XlPortDriver::kMaxFactories> kTables =
    MakeTables(std::make_index_sequence<XlPortDriver::kMaxFactories>());

}  // namespace

const XlDriverTable* XlPortDriver::RegisterFactory(PortFactory factory) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    for (size_t i = 0; i < state.factories.size(); ++i) {
        if (state.factories[i]) continue;
        state.factories[i] = std::move(factory);
        return &kTables[i];
    }
    return nullptr;
}

void XlPortDriver::ReleaseTable(const XlDriverTable* table) {
    if (table < kTables.data() || table >= kTables.data() + kTables.size()) return;
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    state.factories[static_cast<size_t>(table - kTables.data())] = nullptr;
}

bool XlPortDriver::WaitForEvent(XLportHandle handle, uint32_t ms) {
    std::shared_ptr<XlPort> port = PortOf(handle);
    return port && port->WaitForEvent(ms);
}

std::shared_ptr<XlPort> XlPortDriver::Find(XLportHandle handle) {
    return PortOf(handle);
}

}  // namespace diagbridge::xl
