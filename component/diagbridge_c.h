/* C interface of DiagBridgeV4 for other languages. Strings are UTF-8 and NUL-terminated;
 * text results go to caller buffers of the given size (bytes, terminator included).
 * Every function returns the HRESULT of the method (0 as a rule); DBR_E_BUFFER when a text
 * or byte result does not fit its buffer (the buffer then holds an empty text), and
 * DBR_E_POINTER for a null handle or pointer. Result codes go to *result as documented for
 * the C++ class CCommandInterface. Events arrive on worker threads. */
#ifndef DIAGBRIDGE_C_H
#define DIAGBRIDGE_C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DBR_E_POINTER ((int32_t)0x80004003)
#define DBR_E_BUFFER ((int32_t)0x8007007A)
#define DBR_MAX_BYTES 4096

typedef struct DbrComponent DbrComponent;

typedef struct DbrEventCallbacks {
    void* context;
    void (*progress)(void* context, int16_t blockId, int16_t progress, const char* info);
    void (*status)(void* context, int32_t status, const char* text);
    void (*trace)(void* context, int32_t traceId, const char* trace);
} DbrEventCallbacks;

/* Creates a component; NULL when out of memory. */
DbrComponent* DbrCreate(void);
/* Destroys every object of the component, then the component. */
void DbrDestroy(DbrComponent* component);
/* Connects a sink (any callback may be NULL); returns its cookie (>= 1) or 0. */
uint32_t DbrAdvise(DbrComponent* component, const DbrEventCallbacks* callbacks);
/* 0, or -3 for an unknown cookie. */
int32_t DbrUnadvise(DbrComponent* component, uint32_t cookie);

int32_t DbrCGetVersion(DbrComponent* c, const char* parameter, char* version, int32_t versionSize);
int32_t DbrCGetVersionOf(DbrComponent* c, int32_t communicationObjectId, char* version,
                         int32_t versionSize);
int32_t DbrCCreateCommunicationObject(DbrComponent* c, const char* parameter,
                                      int32_t* communicationObjectId);
int32_t DbrCDeleteCommunicationObject(DbrComponent* c, int32_t communicationObjectId,
                                      int32_t* result);
int32_t DbrCCreateEcuObject(DbrComponent* c, const char* parameter, int32_t communicationObjectId,
                            int32_t* ecuObjectId);
int32_t DbrCDeleteEcuObject(DbrComponent* c, int32_t ecuObjectId, int32_t* result);
int32_t DbrCGetConfiguration(DbrComponent* c, int32_t objectId, char* objectInfo,
                             int32_t objectInfoSize, int32_t* result);
int32_t DbrCConnect(DbrComponent* c, int32_t ecuObjectId, int32_t* result);
int32_t DbrCDisconnect(DbrComponent* c, int32_t ecuObjectId, int32_t* result);
int32_t DbrCSetDiagnosticAccess(DbrComponent* c, int32_t ecuObjectId, int32_t oemId,
                                int32_t diagnosticMode, int32_t baudrate, int16_t useSpecialTiming,
                                int32_t* result);
int32_t DbrCSetPredefinedDiagnosticAccess(DbrComponent* c, int32_t ecuObjectId,
                                          int32_t sessionNumber, int32_t* result);
/* addressMode 0 is the physical address (DbrSingleRequest). */
int32_t DbrCSingleRequest(DbrComponent* c, int32_t ecuObjectId, int32_t addressMode,
                          const char* request, char* response, int32_t responseSize,
                          int32_t* result);
/* *result is the response byte count; response must hold responseSize bytes. */
int32_t DbrCSingleRequestBytes(DbrComponent* c, int32_t ecuObjectId, int32_t addressMode,
                               const uint8_t* request, int32_t requestSize, uint8_t* response,
                               int32_t responseSize, int32_t* result);
int32_t DbrCUpload(DbrComponent* c, int32_t ecuObjectId, const char* header, char* upload,
                   int32_t uploadSize, int32_t* result);
int32_t DbrCDownload(DbrComponent* c, int32_t ecuObjectId, int32_t type, const char* hexData,
                     int32_t* result);
int32_t DbrCJob(DbrComponent* c, int32_t ecuObjectId, const char* job, int32_t* result);
int32_t DbrCGetIdent(DbrComponent* c, int32_t ecuObjectId, char* ident, int32_t identSize,
                     int32_t* result);

#ifdef __cplusplus
}
#endif

#endif
