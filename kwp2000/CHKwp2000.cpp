#include "kwp2000/CHKwp2000.h"

#include <algorithm>
#include <array>

#include "devices/CDCOrlanComKwp2000.h"
#include "devices/CDCSamtecKWP2000.h"
#include "engine/CConvert.h"
#include "platform/Notifier.h"

namespace diagbridge {

namespace {
constexpr int32_t kFound = 0;
constexpr int32_t kNotFound = -7;
constexpr int32_t kNoContainer = -7;
constexpr int32_t kNoAnswer = -1;
constexpr int32_t kSkyLinkBaudrateId = 6;
constexpr uint8_t kPositiveIdent = 0x5A;
constexpr std::size_t kIdentDataOffset = 2;
constexpr const char* kHardwareVersionRequest = "1A 93";
constexpr const char* kHardwareNumberRequest = "1A 92";
}  // namespace

CHKwp2000::CHKwp2000(const EcuParameterBlock& configuration, const KwpInterfaceSettings& settings,
                     platform::CancelFlag* cancel)
    : CHardwareInterface(configuration, settings.ForDevices()) {
    Build(settings,
          [cancel](int32_t slot, const EcuParameterBlock& block,
                   const InterfaceSettings& devices) -> std::unique_ptr<CDeviceContainer> {
              if (slot == kSamtecSlot) return std::make_unique<CDCSamtecKWP2000>(block, devices);
              return std::make_unique<CDCOrlanComKwp2000>(block, devices, cancel);
          });
}

CHKwp2000::CHKwp2000(const EcuParameterBlock& configuration, const KwpInterfaceSettings& settings,
                     const ContainerFactory& makeContainer)
    : CHardwareInterface(configuration, settings.ForDevices()) {
    Build(settings, makeContainer);
}

void CHKwp2000::Build(const KwpInterfaceSettings& settings, const ContainerFactory& makeContainer) {
    struct Adapter {
        int32_t slot;
        bool wanted;
        int32_t skyLink;
        const char* error;
        bool describe;
        int32_t port;
        int32_t baud;
    };
    const Adapter adapters[] = {
        {kSamtecSlot, settings.samtecUsb, 0, kSamtecError, false, 0, 0},
        {kRs232Slot, settings.rs232Port >= 0, 0, kRs232Error, true, settings.rs232Port,
         settings.baudrate},
        {kSkyLinkSlot, settings.skyLinkPort >= 0, 1, kSkyLinkError, true, settings.skyLinkPort,
         settings.skyLinkInit},
    };
    for (const Adapter& adapter : adapters) {
        if (!adapter.wanted) continue;
        auto container = makeContainer(adapter.slot, configuration_, settings_);
        if (!container) {
            platform::Notify(adapter.error);
            continue;
        }
        AddContainer(adapter.slot, std::move(container), adapter.skyLink, adapter.error,
                     adapter.describe, adapter.port, adapter.baud);
    }
    currentContainer_ = 0;
}

void CHKwp2000::SetConfiguration(const EcuParameterBlock& configuration) {
    configuration_ = configuration;
    for (const int32_t slot : {kSamtecSlot, kRs232Slot, kSkyLinkSlot}) {
        if (CDeviceContainer* container = Container(slot))
            container->SetConfiguration(configuration);
    }
}

int32_t CHKwp2000::HALSetBaudRate(int32_t baud) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevSetBaudRate(baud);
    return 0;
}

int32_t CHKwp2000::HALSetTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                                int32_t p4min) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevSetTiming(p2min, p2max, p3min, p3max, p4min);
    return 0;
}

int32_t CHKwp2000::HALUseTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                                int32_t p4min) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevUseTiming(p2min, p2max, p3min, p3max, p4min);
    return 0;
}

void CHKwp2000::RecordHit(int32_t slot, int32_t entryIndex) {
    CDeviceContainer* container = Container(slot);
    KwpParameterBlock& kwp = configuration_.kwp;
    KwpAddressEntry& entry = kwp.addressTable[static_cast<std::size_t>(entryIndex)];
    currentContainer_ = slot;
    entry.hardwareVersion = HALGetEcuHardwareVersion();
    entry.hardwareNumber = GetEcuHardwareNumber();
    container->DevDisconnect();
    entry.found = 1;
    kwp.ecuAddress = entry.ecuAddress;
    kwp.testerAddress = entry.testerAddress;
    kwp.foundEntry = entryIndex;
    hardwareText_ = container->description;
}

int32_t CHKwp2000::HALDetectEcu() {
    KwpParameterBlock& kwp = configuration_.kwp;
    const int32_t entries =
        std::clamp<int32_t>(kwp.addressCount, 0, KwpParameterBlock::kAddressTableSize);
    int32_t hits = 0;
    for (int32_t slot = 0; slot < static_cast<int32_t>(kMaxContainers); ++slot) {
        CDeviceContainer* container = Container(slot);
        if (container == nullptr) continue;
        for (int32_t i = 0; i < entries; ++i) {
            const KwpAddressEntry& entry = kwp.addressTable[static_cast<std::size_t>(i)];
            container->DevSetAddress(entry.testerAddress, entry.ecuAddress);
            if (container->DevConnect() == kNoAnswer) continue;
            ++hits;
            RecordHit(slot, i);
            if (!kwp.scanAllAddresses) return kFound;
        }
    }
    if (hits == 0) return kNotFound;
    CurrentContainer()->DevSetAddress(kwp.testerAddress, kwp.ecuAddress);
    return kFound;
}

int32_t CHKwp2000::HALConnect() {
    CDeviceContainer* container = CurrentContainer();
    return container == nullptr ? kNoContainer : container->DevConnect();
}

int32_t CHKwp2000::HALDisconnect() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevDisconnect();
    return 0;
}

int32_t CHKwp2000::HALTransferData(std::string request, std::string& response) {
    response.clear();
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    return container->DevTransferData(std::move(request), response) >= 0 ? 0 : kNoContainer;
}

int32_t CHKwp2000::HALSetAddress(uint8_t tester, uint8_t ecu) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevSetAddress(tester, ecu);
    return 0;
}

int32_t CHKwp2000::HALTesterPresent() {
    CDeviceContainer* container = CurrentContainer();
    return container == nullptr ? kNoContainer : container->DevTesterPresent();
}

std::string CHKwp2000::IdentText(const char* request) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return {};
    std::string response;
    if (container->DevTransferData(request, response) < 0) return {};
    std::array<uint8_t, ShortByteBuffer::kCapacity> bytes{};
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(response, bytes.data(), bytes.size(), stored);
    if (count <= static_cast<int32_t>(kIdentDataOffset) || bytes[0] != kPositiveIdent) return {};
    std::string text;
    for (std::size_t i = kIdentDataOffset; i < stored; ++i) {
        if (bytes[i] != 0) AppendLatin1(text, bytes[i]);
    }
    return text;
}

std::string CHKwp2000::HALGetEcuHardwareVersion() {
    return IdentText(kHardwareVersionRequest);
}

std::string CHKwp2000::GetEcuHardwareNumber() {
    return IdentText(kHardwareNumberRequest);
}

int32_t CHKwp2000::HALAdjustBaudrateId(int32_t id) {
    CDeviceContainer* container = CurrentContainer();
    return container != nullptr && container->isSkyLink == 1 ? kSkyLinkBaudrateId : id;
}

}  // namespace diagbridge
