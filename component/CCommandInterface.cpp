#include "component/CCommandInterface.h"

#include <cstring>
#include <utility>

#include "devices/CHardwareInterface.h"
#include "ecu/CEcu.h"
#include "engine/CConvert.h"
#include "engine/CSoftwareInterface.h"
#include "engine/IntelHexReader.h"
#include "engine/ParameterString.h"
#include "platform/FileRead.h"
#include "platform/SystemInfo.h"

namespace diagbridge {

namespace {
constexpr int32_t kHResultOk = 0;
constexpr int32_t kHResultEmptyHexData = -3;

// Index of the lowest free entry, or -1 when the table is full.
template <typename Table>
int32_t LowestFreeIndex(const Table& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!table[i]) return static_cast<int32_t>(i);
    }
    return -1;
}

// A client request must be a well-formed, non-empty hex byte string that fits one message.
bool IsSendableRequest(const std::string& request) {
    uint8_t scratch[CCommandInterface::kMaxRequestBytes];
    std::size_t stored = 0;
    return HexStringToBytes(request, scratch, sizeof(scratch), stored) > 0;
}

// Reads a HEX file into order lines, each followed by "|", in place (memory near the file's
// size); false for anything but a regular file of at most kMaxHexFileBytes.
bool ReadHexFile(const std::string& path, std::string& hexText) {
    if (platform::ReadRegularFile(path, CCommandInterface::kMaxHexFileBytes, hexText) !=
        platform::FileReadResult::kOk) {
        hexText.clear();
        return false;
    }
    std::size_t length = 0;
    for (const char c : hexText) {
        if (c != '\n') {
            hexText[length++] = c;
            continue;
        }
        if (length > 0 && hexText[length - 1] == '\r') --length;
        hexText[length++] = '|';
    }
    hexText.resize(length);
    if (length > 0 && hexText.back() != '|') hexText += '|';
    return true;
}
}  // namespace

CCommandInterface::CCommandInterface(ObjectRegistry registry) : registry_(std::move(registry)) {}

// Workers first: once they have ended nothing uses an ECU object or fires an event. A worker
// that does not give itself back within its bound keeps its communication object and the
// ECU objects on it (left allocated rather than freed under it) and fires no more events.
CCommandInterface::~CCommandInterface() {
    for (auto& object : communicationObjects_) {
        if (!object || object->StopWorker()) continue;
        object->SilenceEvents();
        for (auto& ecu : ecuObjects_) {
            if (ecu && ecu->CommunicationObject() == object.get()) static_cast<void>(ecu.release());
        }
        static_cast<void>(object.release());
    }
    for (auto& ecu : ecuObjects_) ecu.reset();
    for (int32_t i = 0; i < kTableSize; ++i) DestroyCommunicationObject(i);
    UnadviseAll();
}

// ---------------------------------------------------------------- lookups

CSoftwareInterface* CCommandInterface::CommunicationObject(int32_t id) const {
    if (id < 0 || id >= kTableSize) return nullptr;
    return communicationObjects_[static_cast<std::size_t>(id)].get();
}

CEcu* CCommandInterface::EcuObject(int32_t id) const {
    const uint32_t index = static_cast<uint32_t>(id) - static_cast<uint32_t>(kEcuIdBase);
    if (index >= static_cast<uint32_t>(kTableSize)) return nullptr;
    return ecuObjects_[index].get();
}

CEcu* CCommandInterface::ConnectedEcu(int32_t id) const {
    CEcu* ecu = EcuObject(id);
    return ecu != nullptr && ecu->IsConnected() ? ecu : nullptr;
}

bool CCommandInterface::DestroyCommunicationObject(int32_t index) {
    auto& entry = communicationObjects_[static_cast<std::size_t>(index)];
    if (!entry) return true;
    if (!entry->StopWorker()) return false;
    // ECU objects on it stay usable as objects, but can no longer run services.
    for (auto& ecu : ecuObjects_) {
        if (ecu && ecu->CommunicationObject() == entry.get()) {
            ecu->SetConnected(false);
            ecu->ForgetCommunicationObject();
        }
    }
    entry.reset();
    return true;
}

// ---------------------------------------------------------------- version

int32_t CCommandInterface::DbrGetVersion(const std::string& /*strParameter*/,
                                         std::string* strVersion) {
    if (strVersion == nullptr) return kPointerError;
    *strVersion = platform::VersionString();
    return kHResultOk;
}

int32_t CCommandInterface::_DbrGetVersion(int32_t lCommunicationObjectId, std::string* strVersion) {
    if (strVersion == nullptr) return kPointerError;
    *strVersion = platform::VersionString();
    CSoftwareInterface* object = CommunicationObject(lCommunicationObjectId);
    if (object != nullptr && object->HardwareInterface() != nullptr) {
        *strVersion += object->HardwareInterface()->DeviceList();
    }
    return kHResultOk;
}

// ---------------------------------------------------------------- object tables

int32_t CCommandInterface::DbrCreateCommunicationObject(const std::string& strParameter,
                                                        int32_t* lCommunicationObjectId) {
    if (lCommunicationObjectId == nullptr) return kPointerError;
    *lCommunicationObjectId = kResultFailure;
    const int32_t index = LowestFreeIndex(communicationObjects_);
    if (index < 0) return kHResultOk;
    const std::string keyword = ParameterKeyword(strParameter);
    const ProtocolRow* row = nullptr;
    for (const ProtocolRow& candidate : registry_.protocols) {
        if (keyword == candidate.keyword) row = &candidate;
    }
    if (row == nullptr) {
        *lCommunicationObjectId = kResultBadParameter;
        return kHResultOk;
    }
    if (row->create == nullptr) return kHResultOk;
    std::unique_ptr<CSoftwareInterface> object = row->create(this, strParameter);
    if (!object) return kHResultOk;
    if (!object->ParametersAccepted()) {
        object->StopWorker();
        *lCommunicationObjectId = kResultBadParameter;
        return kHResultOk;
    }
    ServiceOrder order;
    order.command = kCommandCreateHWObject;
    if (object->ExecuteService(order) < 0) {
        object->StopWorker();
        return kHResultOk;
    }
    communicationObjects_[static_cast<std::size_t>(index)] = std::move(object);
    ++communicationCount_;
    *lCommunicationObjectId = index;
    return kHResultOk;
}

int32_t CCommandInterface::DbrDeleteCommunicationObject(int32_t lCommunicationObjectId,
                                                        int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CSoftwareInterface* object = CommunicationObject(lCommunicationObjectId);
    if (object == nullptr) return kHResultOk;
    ServiceOrder order;
    order.command = kCommandDeleteHWObject;
    object->ExecuteService(order);
    // A service that cannot be stopped still uses the object: keep it rather than free it.
    if (!DestroyCommunicationObject(lCommunicationObjectId)) {
        *lResult = kResultTimeout;
        return kHResultOk;
    }
    if (communicationCount_ > 0) --communicationCount_;
    *lResult = kResultOk;
    return kHResultOk;
}

int32_t CCommandInterface::DbrCreateEcuObject(const std::string& strParameter,
                                              int32_t lCommunicationObjectId,
                                              int32_t* lEcuObjectId) {
    if (lEcuObjectId == nullptr) return kPointerError;
    *lEcuObjectId = kResultFailure;
    CSoftwareInterface* object = CommunicationObject(lCommunicationObjectId);
    const int32_t index = LowestFreeIndex(ecuObjects_);
    if (object == nullptr || index < 0) return kHResultOk;
    std::unique_ptr<CEcu> ecu = CreateEcuObject(registry_.ecuTypes, ParameterKeyword(strParameter),
                                                object->ProtocolCode(), object, strParameter);
    if (!ecu) return kHResultOk;
    if (!ecu->IsCreated()) {
        *lEcuObjectId = kResultBadParameter;
        return kHResultOk;
    }
    ecuObjects_[static_cast<std::size_t>(index)] = std::move(ecu);
    ++ecuCount_;
    *lEcuObjectId = kEcuIdBase + index;
    return kHResultOk;
}

int32_t CCommandInterface::DbrDeleteEcuObject(int32_t lEcuObjectId, int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CEcu* ecu = EcuObject(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    // A service that cannot be stopped still uses the object: keep it rather than free it.
    CSoftwareInterface* object = ecu->CommunicationObject();
    if (object != nullptr && !object->DetachEcu(ecu)) {
        *lResult = kResultTimeout;
        return kHResultOk;
    }
    ecuObjects_[static_cast<uint32_t>(lEcuObjectId - kEcuIdBase)].reset();
    if (ecuCount_ > 0) --ecuCount_;
    *lResult = kResultOk;
    return kHResultOk;
}

int32_t CCommandInterface::DbrGetConfiguration(int32_t lObjectId, std::string* strObjectInfo,
                                               int32_t* lResult) {
    if (strObjectInfo == nullptr || lResult == nullptr) return kPointerError;
    strObjectInfo->clear();
    *lResult = kResultFailure;
    if (CSoftwareInterface* object = CommunicationObject(lObjectId)) {
        *strObjectInfo = object->GetParameterString();
        *lResult = kResultOk;
    } else if (CEcu* ecu = EcuObject(lObjectId)) {
        *strObjectInfo = ecu->GetParameterString();
        *lResult = kResultOk;
    }
    return kHResultOk;
}

// ---------------------------------------------------------------- connection

int32_t CCommandInterface::DbrConnect(int32_t lEcuObjectId, int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    if (CEcu* ecu = EcuObject(lEcuObjectId)) *lResult = ecu->Connect();
    return kHResultOk;
}

int32_t CCommandInterface::DbrDisconnect(int32_t lEcuObjectId, int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    ServiceOrder order;
    order.command = kCommandDisconnect;
    *lResult = ecu->RunService(order);
    return kHResultOk;
}

int32_t CCommandInterface::DbrSetDiagnosticAccess(int32_t lEcuObjectId, int32_t lOemId,
                                                  int32_t lDiagnosticMode, int32_t lBaudrate,
                                                  int16_t bUseSpecialTiming, int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    ServiceOrder order;
    order.command = kCommandSetDiagnosticAccess;
    order.predefinedSession = kExplicitAccess;
    order.specialTiming = bUseSpecialTiming != 0;
    order.oemId = lOemId;
    order.diagnosticMode = lDiagnosticMode;
    order.baudrate = lBaudrate;
    *lResult = ecu->RunService(order);
    return kHResultOk;
}

int32_t CCommandInterface::DbrSetPredefinedDiagnosticAccess(int32_t lEcuObjectId,
                                                            int32_t lSessionNumber,
                                                            int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    ServiceOrder order;
    order.command = kCommandSetDiagnosticAccess;
    order.predefinedSession = lSessionNumber;
    *lResult = ecu->RunService(order);
    return kHResultOk;
}

// ---------------------------------------------------------------- single requests

int32_t CCommandInterface::SingleRequest(int32_t id, int32_t addressMode,
                                         const std::string& request, std::string* response) {
    CEcu* ecu = ConnectedEcu(id);
    if (ecu == nullptr) return kResultFailure;
    if (!ecu->SingleRequestAllowed()) return kResultNotPermitted;
    if (!IsSendableRequest(request)) return kResultBadParameter;
    ServiceOrder order;
    order.command = kCommandSingleRequest;
    order.request = request;
    order.addressMode = addressMode;
    const int32_t result = ecu->RunService(order);
    if (response != nullptr) *response = ecu->ResponseText();
    return result;
}

// The response bytes are copied whatever the result, so a negative answer (7F 31 22) can be
// read; the result is the byte count or the negative service result.
int32_t CCommandInterface::ByteSingleRequest(int32_t id, int32_t addressMode,
                                             const uint8_t* request, int32_t count,
                                             uint8_t* response) {
    CEcu* ecu = ConnectedEcu(id);
    if (ecu == nullptr) return kResultFailure;
    if (!ecu->SingleRequestAllowed()) return kResultNotPermitted;
    if (count <= 0 || count > kMaxRequestBytes || request == nullptr) return kResultBadParameter;
    std::string text;
    const int32_t result = SingleRequest(
        id, addressMode, BytesToHexString(request, static_cast<std::size_t>(count)), &text);
    std::size_t stored = 0;
    const int32_t bytes = HexStringToBytes(text, response, kMaxRequestBytes, stored);
    if (result < 0) return result;
    return bytes < 0 ? kResultCommunication : bytes;
}

int32_t CCommandInterface::DbrSingleRequest(int32_t lEcuObjectId, const std::string& strRequest,
                                            std::string* strResponse, int32_t* lResult) {
    return DbrExtSingleRequest(lEcuObjectId, 0, strRequest, strResponse, lResult);
}

int32_t CCommandInterface::DbrExtSingleRequest(int32_t lEcuObjectId, int32_t lAdressMode,
                                               const std::string& strRequest,
                                               std::string* strResponse, int32_t* lResult) {
    if (strResponse == nullptr || lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    strResponse->clear();
    *lResult = SingleRequest(lEcuObjectId, lAdressMode, strRequest, strResponse);
    return kHResultOk;
}

int32_t CCommandInterface::_DbrSingleRequest(int32_t lEcuObjectId, const uint8_t* uRequest,
                                             int32_t lNumberOfBytes, uint8_t* uResponse,
                                             int32_t* lResult) {
    return _DbrExtSingleRequest(lEcuObjectId, 0, uRequest, lNumberOfBytes, uResponse, lResult);
}

int32_t CCommandInterface::_DbrExtSingleRequest(int32_t lEcuObjectId, int32_t lAdressMode,
                                                const uint8_t* uRequest, int32_t lNumberOfBytes,
                                                uint8_t* uResponse, int32_t* lResult) {
    if (uResponse == nullptr || lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    *lResult = ByteSingleRequest(lEcuObjectId, lAdressMode, uRequest, lNumberOfBytes, uResponse);
    return kHResultOk;
}

// ---------------------------------------------------------------- data services

int32_t CCommandInterface::DbrUpload(int32_t lEcuObjectId, const std::string& strHeader,
                                     std::string* strUpload, int32_t* lResult) {
    if (strUpload == nullptr || lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    strUpload->clear();
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    if (!ecu->UploadAllowed()) {
        *lResult = kResultNotPermitted;
        return kHResultOk;
    }
    ServiceOrder order;
    order.command = kCommandUpload;
    order.uploadHeader = strHeader;
    *lResult = ecu->RunService(order);
    *strUpload = ecu->LastResult().uploadText;
    return kHResultOk;
}

int32_t CCommandInterface::DbrDownload(int32_t lEcuObjectId, int32_t lType,
                                       const std::string& strHexData, int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    if (!ecu->DownloadAllowed()) {
        *lResult = kResultNotPermitted;
        return kHResultOk;
    }
    if (strHexData.empty()) return kHResultEmptyHexData;
    ServiceOrder order;
    if (HoldsIntelHexEndRecord(strHexData)) {
        order.hexText = strHexData;
    } else if (ReadHexFile(strHexData, order.hexText)) {
        order.hexFilePath = strHexData;
    } else {
        *lResult = kResultBadParameter;
        return kHResultOk;
    }
    order.command = kCommandDownload;
    order.downloadType = lType;
    order.downloadOption = ecu->Parameters().downloadOption;
    *lResult = ecu->RunService(std::move(order));
    return kHResultOk;
}

int32_t CCommandInterface::DbrJob(int32_t lEcuObjectId, const std::string& strJob,
                                  int32_t* lResult) {
    if (lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    if (!ecu->JobAllowed()) {
        *lResult = kResultNotPermitted;
        return kHResultOk;
    }
    ServiceOrder order;
    order.command = kCommandJob;
    order.job = strJob;
    *lResult = ecu->RunService(order);
    return kHResultOk;
}

int32_t CCommandInterface::DbrGetIdent(int32_t lEcuObjectId, std::string* strIdent,
                                       int32_t* lResult) {
    if (strIdent == nullptr || lResult == nullptr) return kPointerError;
    *lResult = kResultFailure;
    strIdent->clear();
    CEcu* ecu = ConnectedEcu(lEcuObjectId);
    if (ecu == nullptr) return kHResultOk;
    ServiceOrder order;
    order.command = kCommandGetObjectInfo;
    *lResult = ecu->RunService(order);
    *strIdent = ecu->LastResult().identText;
    return kHResultOk;
}

}  // namespace diagbridge
