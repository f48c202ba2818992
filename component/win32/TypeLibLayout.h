#pragma once
#include <windows.h>

#include <oaidl.h>

// What the type library "DiagBridgeV4Lib" holds, as data: the writer builds the library from
// it and the read-back check compares a loaded library against it.
namespace diagbridge::com {

enum class ParamType { Long, Short, Bool, Bstr, BytePtr, BstrPtr, LongPtr };

struct ParamLayout {
    const wchar_t* name;
    ParamType type;
    USHORT flags;  // PARAMFLAG_*
};

inline constexpr int kMaxParams = 6;

struct MethodLayout {
    DISPID dispId;
    const wchar_t* name;
    const wchar_t* help;
    int paramCount;
    ParamLayout params[kMaxParams];
};

inline constexpr USHORT kIn = PARAMFLAG_FIN;
inline constexpr USHORT kOut = PARAMFLAG_FOUT;
inline constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
inline constexpr USHORT kNoDirection = PARAMFLAG_NONE;

inline constexpr const wchar_t* kLibName = L"DiagBridgeV4Lib";
inline constexpr const wchar_t* kLibHelp = L"DiagBridgeV4 1.0-Typbibliothek";
inline constexpr const wchar_t* kEventsName = L"_ICommandInterfaceEvents";
inline constexpr const wchar_t* kEventsHelp = L"_ICommandInterfaceEvents-Schnittstelle";
inline constexpr const wchar_t* kCoclassName = L"CommandInterface";
inline constexpr const wchar_t* kCoclassHelp = L"CommandInterface Class";
inline constexpr const wchar_t* kInterfaceName = L"ICommandInterface";
inline constexpr const wchar_t* kInterfaceHelp = L"ICommandInterface-Schnittstelle";
inline constexpr const wchar_t* kContainerInterfaceName = L"IDeviceContainer1";
inline constexpr const wchar_t* kContainerCoclassName = L"DeviceContainer1";

// Index of each entry in the library.
inline constexpr UINT kEventsIndex = 0;
inline constexpr UINT kCoclassIndex = 1;
inline constexpr UINT kInterfaceIndex = 2;
inline constexpr UINT kContainerInterfaceIndex = 3;
inline constexpr UINT kContainerCoclassIndex = 4;
inline constexpr UINT kEntryCount = 5;

inline constexpr WORD kEventsFlags = TYPEFLAG_FDISPATCHABLE;
inline constexpr WORD kCoclassFlags = TYPEFLAG_FCANCREATE;
inline constexpr WORD kInterfaceFlags =
    TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;

inline constexpr MethodLayout kEventMethods[] = {
    {1,
     L"DbrProgressMessage",
     L"DbrProgressMessage",
     3,
     {{L"iBlockId", ParamType::Short, kIn},
      {L"iProgress", ParamType::Short, kIn},
      {L"strInfo", ParamType::Bstr, kIn}}},
    {2,
     L"DbrStatusMessage",
     L"DbrStatusMessage",
     2,
     {{L"lStatus", ParamType::Long, kIn}, {L"strStatus", ParamType::Bstr, kIn}}},
    {3,
     L"DbrTraceMessage",
     L"DbrTraceMessage",
     2,
     {{L"lTraceId", ParamType::Long, kIn}, {L"strTrace", ParamType::Bstr, kIn}}},
};

inline constexpr MethodLayout kInterfaceMethods[] = {
    {1,
     L"DbrGetVersion",
     L"Methode DbrGetVersion",
     2,
     {{L"strParameter", ParamType::Bstr, kIn}, {L"strVersion", ParamType::BstrPtr, kRetval}}},
    {2,
     L"DbrCreateCommunicationObject",
     L"Methode DbrCreateCommunicationObject",
     2,
     {{L"strParameter", ParamType::Bstr, kIn},
      {L"lCommunicationObjectId", ParamType::LongPtr, kRetval}}},
    {3,
     L"DbrDeleteCommunicationObject",
     L"Methode DbrDeleteCommunicationObject",
     2,
     {{L"lCommunicationObjectId", ParamType::Long, kIn},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {4,
     L"DbrCreateEcuObject",
     L"Methode DbrCreateEcuObject",
     3,
     {{L"strParameter", ParamType::Bstr, kIn},
      {L"lCommunicationObjectId", ParamType::Long, kIn},
      {L"lEcuObjectId", ParamType::LongPtr, kRetval}}},
    {5,
     L"DbrDeleteEcuObject",
     L"Methode DbrDeleteEcuObject",
     2,
     {{L"lEcuObjectId", ParamType::Long, kIn}, {L"lResult", ParamType::LongPtr, kRetval}}},
    {6,
     L"DbrGetConfiguration",
     L"Methode DbrGetObjectConfiguration",
     3,
     {{L"lObjectId", ParamType::Long, kIn},
      {L"strObjectInfo", ParamType::BstrPtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {7,
     L"DbrConnect",
     L"Methode DbrConnect",
     2,
     {{L"lEcuObjectId", ParamType::Long, kIn}, {L"lResult", ParamType::LongPtr, kRetval}}},
    {8,
     L"DbrDisconnect",
     L"Methode DbrDisconnect",
     2,
     {{L"lEcuObjectId", ParamType::Long, kIn}, {L"lResult", ParamType::LongPtr, kRetval}}},
    {9,
     L"DbrSetDiagnosticAccess",
     L"Methode DbrSetDiagnosticAccess",
     6,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"lOemId", ParamType::Long, kIn},
      {L"lDiagnosticMode", ParamType::Long, kIn},
      {L"lBaudrate", ParamType::Long, kIn},
      {L"bUseSpecialTiming", ParamType::Bool, kIn},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {10,
     L"DbrSetPredefinedDiagnosticAccess",
     L"Methode DbrSetPredefinedDiagnosticAccess",
     3,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"lSessionNumber", ParamType::Long, kIn},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {11,
     L"DbrSingleRequest",
     L"Methode DbrSingleRequest",
     4,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"strRequest", ParamType::Bstr, kIn},
      {L"strResponse", ParamType::BstrPtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {12,
     L"_DbrSingleRequest",
     L"Methode _DbrSingleRequest",
     5,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"uRequest", ParamType::BytePtr, kIn},
      {L"lNumberOfBytes", ParamType::Long, kIn},
      {L"uResponse", ParamType::BytePtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {13,
     L"DbrUpload",
     L"Methode DbrUpload",
     4,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"strHeader", ParamType::Bstr, kIn},
      {L"strUpload", ParamType::BstrPtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {14,
     L"DbrDownload",
     L"Methode DbrDownload",
     4,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"lType", ParamType::Long, kIn},
      {L"strHexData", ParamType::Bstr, kIn},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {15,
     L"DbrJob",
     L"Methode DbrJob",
     3,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"strJob", ParamType::Bstr, kIn},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {16,
     L"DbrGetIdent",
     L"Methode DbrGetIdent",
     3,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"strIdent", ParamType::BstrPtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {17,
     L"_DbrGetVersion",
     L"Methode _DbrGetVersion",
     2,
     {{L"lCommunicationObjectId", ParamType::Long, kIn},
      {L"strVersion", ParamType::BstrPtr, kRetval}}},
    {18,
     L"DbrExtSingleRequest",
     L"Methode DbrExtSingleRequest",
     5,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"lAdressMode", ParamType::Long, kNoDirection},
      {L"strRequest", ParamType::Bstr, kIn},
      {L"strResponse", ParamType::BstrPtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
    {19,
     L"_DbrExtSingleRequest",
     L"Methode _DbrExtSingleRequest",
     6,
     {{L"lEcuObjectId", ParamType::Long, kIn},
      {L"lAdressMode", ParamType::Long, kNoDirection},
      {L"uRequest", ParamType::BytePtr, kIn},
      {L"lNumberOfBytes", ParamType::Long, kIn},
      {L"uResponse", ParamType::BytePtr, kOut},
      {L"lResult", ParamType::LongPtr, kRetval}}},
};

}  // namespace diagbridge::com
