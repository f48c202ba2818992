#pragma once
#include <oaidl.h>
#include <windows.h>

namespace diagbridge::com {

// The dual interface as the type library describes it: after IUnknown and IDispatch the 19
// methods in DISPID order 1..19. Each returns S_OK and its outcome in the last parameter.
struct ICommandInterface : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE DbrGetVersion(BSTR strParameter, BSTR* strVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    DbrCreateCommunicationObject(BSTR strParameter, LONG* lCommunicationObjectId) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrDeleteCommunicationObject(LONG lCommunicationObjectId,
                                                                   LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrCreateEcuObject(BSTR strParameter,
                                                         LONG lCommunicationObjectId,
                                                         LONG* lEcuObjectId) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrDeleteEcuObject(LONG lEcuObjectId, LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrGetConfiguration(LONG lObjectId, BSTR* strObjectInfo,
                                                          LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrConnect(LONG lEcuObjectId, LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrDisconnect(LONG lEcuObjectId, LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrSetDiagnosticAccess(LONG lEcuObjectId, LONG lOemId,
                                                             LONG lDiagnosticMode, LONG lBaudrate,
                                                             VARIANT_BOOL bUseSpecialTiming,
                                                             LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrSetPredefinedDiagnosticAccess(LONG lEcuObjectId,
                                                                       LONG lSessionNumber,
                                                                       LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrSingleRequest(LONG lEcuObjectId, BSTR strRequest,
                                                       BSTR* strResponse, LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE _DbrSingleRequest(LONG lEcuObjectId, unsigned char* uRequest,
                                                        LONG lNumberOfBytes,
                                                        unsigned char* uResponse,
                                                        LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrUpload(LONG lEcuObjectId, BSTR strHeader, BSTR* strUpload,
                                                LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrDownload(LONG lEcuObjectId, LONG lType, BSTR strHexData,
                                                  LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrJob(LONG lEcuObjectId, BSTR strJob, LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrGetIdent(LONG lEcuObjectId, BSTR* strIdent,
                                                  LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE _DbrGetVersion(LONG lCommunicationObjectId,
                                                     BSTR* strVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE DbrExtSingleRequest(LONG lEcuObjectId, LONG lAdressMode,
                                                          BSTR strRequest, BSTR* strResponse,
                                                          LONG* lResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE _DbrExtSingleRequest(LONG lEcuObjectId, LONG lAdressMode,
                                                           unsigned char* uRequest,
                                                           LONG lNumberOfBytes,
                                                           unsigned char* uResponse,
                                                           LONG* lResult) = 0;
};

}  // namespace diagbridge::com
