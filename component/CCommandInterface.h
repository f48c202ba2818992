#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "component/CProxyCommandInterfaceEvents.h"
#include "component/ProtocolTable.h"

namespace diagbridge {

class CEcu;
class CSoftwareInterface;

// The component's one creatable object. Every method returns an HRESULT: 0, except
// DbrDownload with empty hex data (-3) and kPointerError for a null out parameter. The
// outcome goes to the last out parameter (the result): >= 0 success (new id, byte count or
// the service's result), -1/-2 service failures, -3 bad parameter, -4 not permitted,
// -5 timed out, -6 abandoned, -7 bad/free id, table full, not connected, creation failed.
// Communication-object ids are 0..255, ECU-object ids 1000..1255.
// Methods are called from one client thread; events come on the worker threads.
class CCommandInterface : public CProxyCommandInterfaceEvents {
  public:
    static constexpr int32_t kTableSize = 256;
    static constexpr int32_t kEcuIdBase = 1000;
    static constexpr int32_t kMaxRequestBytes = 4096;  // byte-buffer requests and responses
    static constexpr int32_t kPointerError = static_cast<int32_t>(0x80004003u);  // E_POINTER
    // Largest HEX file DbrDownload reads: the text of a 16 MiB image in records of 16 data
    // bytes (45 characters with CR LF per 16 bytes) and some room.
    static constexpr std::size_t kMaxHexFileBytes = std::size_t{48} << 20;

    explicit CCommandInterface(ObjectRegistry registry = DefaultObjectRegistry());
    // Destroys every ECU object and communication object, then drops the sinks.
    ~CCommandInterface();
    CCommandInterface(const CCommandInterface&) = delete;
    CCommandInterface& operator=(const CCommandInterface&) = delete;

    int32_t DbrGetVersion(const std::string& strParameter, std::string* strVersion);
    int32_t DbrCreateCommunicationObject(const std::string& strParameter,
                                         int32_t* lCommunicationObjectId);
    int32_t DbrDeleteCommunicationObject(int32_t lCommunicationObjectId, int32_t* lResult);
    int32_t DbrCreateEcuObject(const std::string& strParameter, int32_t lCommunicationObjectId,
                               int32_t* lEcuObjectId);
    int32_t DbrDeleteEcuObject(int32_t lEcuObjectId, int32_t* lResult);
    // strObjectInfo: the object's parameter string; empty and lResult -7 for a free id.
    int32_t DbrGetConfiguration(int32_t lObjectId, std::string* strObjectInfo, int32_t* lResult);
    int32_t DbrConnect(int32_t lEcuObjectId, int32_t* lResult);
    int32_t DbrDisconnect(int32_t lEcuObjectId, int32_t* lResult);
    // bUseSpecialTiming is a VARIANT_BOOL: any value other than 0 is true.
    int32_t DbrSetDiagnosticAccess(int32_t lEcuObjectId, int32_t lOemId, int32_t lDiagnosticMode,
                                   int32_t lBaudrate, int16_t bUseSpecialTiming, int32_t* lResult);
    int32_t DbrSetPredefinedDiagnosticAccess(int32_t lEcuObjectId, int32_t lSessionNumber,
                                             int32_t* lResult);
    // strRequest is a hex byte string; a malformed or empty one gives -3 before anything is
    // sent.
    int32_t DbrSingleRequest(int32_t lEcuObjectId, const std::string& strRequest,
                             std::string* strResponse, int32_t* lResult);
    // lNumberOfBytes 1..4096 request bytes; uResponse must hold 4096 bytes. The result is the
    // response byte count.
    int32_t _DbrSingleRequest(int32_t lEcuObjectId, const uint8_t* uRequest, int32_t lNumberOfBytes,
                              uint8_t* uResponse, int32_t* lResult);
    int32_t DbrUpload(int32_t lEcuObjectId, const std::string& strHeader, std::string* strUpload,
                      int32_t* lResult);
    // strHexData: Intel-HEX text (a line of it is the end record ":00000001FF", either case)
    // or the path of a HEX file: a regular file of at most kMaxHexFileBytes, read without
    // blocking (a FIFO or device gives -3, as a missing or larger file does).
    int32_t DbrDownload(int32_t lEcuObjectId, int32_t lType, const std::string& strHexData,
                        int32_t* lResult);
    int32_t DbrJob(int32_t lEcuObjectId, const std::string& strJob, int32_t* lResult);
    int32_t DbrGetIdent(int32_t lEcuObjectId, std::string* strIdent, int32_t* lResult);
    // The version followed by the adapter list of the communication object, if it exists.
    int32_t _DbrGetVersion(int32_t lCommunicationObjectId, std::string* strVersion);
    int32_t DbrExtSingleRequest(int32_t lEcuObjectId, int32_t lAdressMode,
                                const std::string& strRequest, std::string* strResponse,
                                int32_t* lResult);
    int32_t _DbrExtSingleRequest(int32_t lEcuObjectId, int32_t lAdressMode, const uint8_t* uRequest,
                                 int32_t lNumberOfBytes, uint8_t* uResponse, int32_t* lResult);

    // Objects alive in each table.
    int32_t CommunicationObjectCount() const { return communicationCount_; }
    int32_t EcuObjectCount() const { return ecuCount_; }

  private:
    CSoftwareInterface* CommunicationObject(int32_t id) const;
    CEcu* EcuObject(int32_t id) const;
    CEcu* ConnectedEcu(int32_t id) const;
    int32_t SingleRequest(int32_t id, int32_t addressMode, const std::string& request,
                          std::string* response);
    int32_t ByteSingleRequest(int32_t id, int32_t addressMode, const uint8_t* request,
                              int32_t count, uint8_t* response);
    // False, object kept, when its worker does not stop.
    bool DestroyCommunicationObject(int32_t index);

    ObjectRegistry registry_;
    std::array<std::unique_ptr<CSoftwareInterface>, kTableSize> communicationObjects_;
    std::array<std::unique_ptr<CEcu>, kTableSize> ecuObjects_;
    int32_t communicationCount_ = 0;
    int32_t ecuCount_ = 0;
};

}  // namespace diagbridge
