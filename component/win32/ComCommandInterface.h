#pragma once
#include <windows.h>

#include <ocidl.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "component/CCommandInterface.h"
#include "component/win32/ComEventSink.h"
#include "component/win32/ICommandInterfaceCom.h"

namespace diagbridge::com {

class ComCommandInterface;

// The one connection point, for _ICommandInterfaceEvents; lives inside its container and
// counts its references there.
class ComEventConnectionPoint final : public IConnectionPoint {
  public:
    explicit ComEventConnectionPoint(ComCommandInterface& owner) : owner_(owner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** cpc) override;
    // Takes the sink's _ICommandInterfaceEvents, else its IDispatch.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  private:
    ComCommandInterface& owner_;
    std::mutex mutex_;
    std::map<DWORD, std::shared_ptr<ComEventSink>> sinks_;
};

// The coclass CommandInterface: the dual ICommandInterface over CCommandInterface, IDispatch
// served from the type library, and the event connection point.
class ComCommandInterface final : public ICommandInterface,
                                  public IConnectionPointContainer,
                                  public IProvideClassInfo {
  public:
    // The new object with one reference, or null when its type information cannot load.
    static HRESULT Create(REFIID riid, void** object);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

    HRESULT STDMETHODCALLTYPE DbrGetVersion(BSTR strParameter, BSTR* strVersion) override;
    HRESULT STDMETHODCALLTYPE DbrCreateCommunicationObject(BSTR strParameter,
                                                           LONG* lCommunicationObjectId) override;
    HRESULT STDMETHODCALLTYPE DbrDeleteCommunicationObject(LONG lCommunicationObjectId,
                                                           LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrCreateEcuObject(BSTR strParameter, LONG lCommunicationObjectId,
                                                 LONG* lEcuObjectId) override;
    HRESULT STDMETHODCALLTYPE DbrDeleteEcuObject(LONG lEcuObjectId, LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrGetConfiguration(LONG lObjectId, BSTR* strObjectInfo,
                                                  LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrConnect(LONG lEcuObjectId, LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrDisconnect(LONG lEcuObjectId, LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrSetDiagnosticAccess(LONG lEcuObjectId, LONG lOemId,
                                                     LONG lDiagnosticMode, LONG lBaudrate,
                                                     VARIANT_BOOL bUseSpecialTiming,
                                                     LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrSetPredefinedDiagnosticAccess(LONG lEcuObjectId,
                                                               LONG lSessionNumber,
                                                               LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrSingleRequest(LONG lEcuObjectId, BSTR strRequest,
                                               BSTR* strResponse, LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE _DbrSingleRequest(LONG lEcuObjectId, unsigned char* uRequest,
                                                LONG lNumberOfBytes, unsigned char* uResponse,
                                                LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrUpload(LONG lEcuObjectId, BSTR strHeader, BSTR* strUpload,
                                        LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrDownload(LONG lEcuObjectId, LONG lType, BSTR strHexData,
                                          LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrJob(LONG lEcuObjectId, BSTR strJob, LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE DbrGetIdent(LONG lEcuObjectId, BSTR* strIdent,
                                          LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE _DbrGetVersion(LONG lCommunicationObjectId,
                                             BSTR* strVersion) override;
    HRESULT STDMETHODCALLTYPE DbrExtSingleRequest(LONG lEcuObjectId, LONG lAdressMode,
                                                  BSTR strRequest, BSTR* strResponse,
                                                  LONG* lResult) override;
    HRESULT STDMETHODCALLTYPE _DbrExtSingleRequest(LONG lEcuObjectId, LONG lAdressMode,
                                                   unsigned char* uRequest, LONG lNumberOfBytes,
                                                   unsigned char* uResponse,
                                                   LONG* lResult) override;

    CCommandInterface& Core() { return core_; }

  private:
    ComCommandInterface(ITypeInfo* dispatchInfo, ITypeInfo* vtableInfo);
    ~ComCommandInterface();

    std::atomic<ULONG> references_{1};
    ITypeInfo* dispatchInfo_;  // cached by the module, not owned
    ITypeInfo* vtableInfo_;    // owned
    ComEventConnectionPoint connectionPoint_{*this};
    // Last member: its destructor stops every worker before the sinks above go.
    CCommandInterface core_;
};

}  // namespace diagbridge::com
