#pragma once
#include <windows.h>

// The identities of the component, fixed once: changing one breaks every registered client.
namespace diagbridge::com {

// Type library "DiagBridgeV4Lib" 1.0, locale 0x409.
// {7546F1F5-9DB1-4AD3-9DA2-B54A4996D94D}
inline constexpr GUID kLibId = {
    0x7546f1f5, 0x9db1, 0x4ad3, {0x9d, 0xa2, 0xb5, 0x4a, 0x49, 0x96, 0xd9, 0x4d}};
// Coclass CommandInterface. {25AD5616-211D-4B6F-9B68-13B658EDCD67}
inline constexpr GUID kClsidCommandInterface = {
    0x25ad5616, 0x211d, 0x4b6f, {0x9b, 0x68, 0x13, 0xb6, 0x58, 0xed, 0xcd, 0x67}};
// Dual interface ICommandInterface. {967D80FD-97C6-4657-A6CB-D21C8E01846E}
inline constexpr GUID kIidICommandInterface = {
    0x967d80fd, 0x97c6, 0x4657, {0xa6, 0xcb, 0xd2, 0x1c, 0x8e, 0x01, 0x84, 0x6e}};
// Event dispinterface _ICommandInterfaceEvents. {A4B0D907-679E-4669-9B8C-B1399F532AB9}
inline constexpr GUID kDiidICommandInterfaceEvents = {
    0xa4b0d907, 0x679e, 0x4669, {0x9b, 0x8c, 0xb1, 0x39, 0x9f, 0x53, 0x2a, 0xb9}};
// Application id. {29E79A63-8F1D-4976-868D-992BF630EF88}
inline constexpr GUID kAppId = {
    0x29e79a63, 0x8f1d, 0x4976, {0x86, 0x8d, 0x99, 0x2b, 0xf6, 0x30, 0xef, 0x88}};
// Dispinterface IDeviceContainer1 (no members). {FDA02CD7-CB25-46BC-A6E5-AFA2075E148B}
inline constexpr GUID kDiidIDeviceContainer1 = {
    0xfda02cd7, 0xcb25, 0x46bc, {0xa6, 0xe5, 0xaf, 0xa2, 0x07, 0x5e, 0x14, 0x8b}};
// Coclass DeviceContainer1. {2359D877-6BA9-43CC-A67E-854F722666A4}
inline constexpr GUID kClsidDeviceContainer1 = {
    0x2359d877, 0x6ba9, 0x43cc, {0xa6, 0x7e, 0x85, 0x4f, 0x72, 0x26, 0x66, 0xa4}};

inline constexpr WORD kLibMajor = 1;
inline constexpr WORD kLibMinor = 0;
inline constexpr LCID kLibLocale = 0x409;

// Resource ids in the DLL: the type library and the project name.
inline constexpr int kTypeLibResource = 1;
inline constexpr int kProjectNameString = 100;

// Registry texts.
inline constexpr const wchar_t* kProgId = L"DiagBridgeV4.CommandInterface.1";
inline constexpr const wchar_t* kVersionIndependentProgId = L"DiagBridgeV4.CommandInterface";
inline constexpr const wchar_t* kClassName = L"CommandInterface Class";
inline constexpr const wchar_t* kAppName = L"DiagBridgeV4";
inline constexpr const wchar_t* kAppIdDllName = L"DiagBridgeV4.DLL";
inline constexpr const wchar_t* kThreadingModel = L"Apartment";

// DISPIDs of the events.
inline constexpr DISPID kDispIdProgress = 1;
inline constexpr DISPID kDispIdStatus = 2;
inline constexpr DISPID kDispIdTrace = 3;

}  // namespace diagbridge::com
