// Drives DiagBridgeV4.CommandInterface as a late-bound client does (a script, VBA, .NET
// dynamic): LateBoundClient errors | kline <COM port number> | uds.
#include <windows.h>

#include <olectl.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "LateBound.h"

using namespace wine_tests;

namespace {

constexpr const wchar_t* kProgId = L"DiagBridgeV4.CommandInterface";
constexpr LONG kEcuId = 1000;
constexpr LONG kByteBufferSize = 4096;

bool Contains(const std::vector<std::string>& texts, const std::string& wanted) {
    for (const auto& text : texts) {
        if (text.find(wanted) != std::string::npos) return true;
    }
    return false;
}

std::string CallText(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args,
                     LONG* result) {
    BSTR text = nullptr;
    args.push_back(TextRef(&text));
    *result = CallLong(object, name, std::move(args));
    std::string narrow = Narrow(text);
    SysFreeString(text);
    return narrow;
}

// Robustness of the automation surface: errors a client expects, never a crash.
void RunErrors(IDispatch* component) {
    DISPID id = 0;
    auto* unknownName = const_cast<LPOLESTR>(L"DbrNoSuchMethod");
    Check(component->GetIDsOfNames(IID_NULL, &unknownName, 1, 0, &id) == DISP_E_UNKNOWNNAME,
          "an unknown name gives DISP_E_UNKNOWNNAME");
    auto* mixedCase = const_cast<LPOLESTR>(L"dbrgetversion");
    Check(component->GetIDsOfNames(IID_NULL, &mixedCase, 1, 0, &id) == S_OK && id == 1,
          "names are found in any case; DbrGetVersion is DISPID 1");

    VARIANT version;
    VariantInit(&version);
    Check(Call(component, L"DbrGetVersion", {Text(L"")}, &version) == S_OK &&
              version.vt == VT_BSTR && Narrow(version.bstrVal).rfind("DiagBridgeV4.dll ", 0) == 0,
          "DbrGetVersion answers \"DiagBridgeV4.dll <version>\"");
    VariantClear(&version);

    Check(Call(component, L"DbrDeleteCommunicationObject", {Text(L"not a number")}, nullptr) ==
              DISP_E_TYPEMISMATCH,
          "a text where a long is expected gives DISP_E_TYPEMISMATCH");
    Check(CallLong(component, L"DbrCreateCommunicationObject", {Text(L"UDS_ISO_14229|BOGUS=1")}) ==
              -3,
          "an unknown key is rejected with -3");
    Check(CallLong(component, L"DbrCreateCommunicationObject", {Text(nullptr)}) < 0,
          "a null BSTR is an empty parameter string, refused without a crash");
    Check(CallLong(component, L"DbrConnect", {Long(999)}) == -7, "ECU id 999 gives -7");

    unsigned char request[4] = {0x22, 0xF1, 0x90};
    unsigned char response[kByteBufferSize] = {};
    SCODE refused = 0;
    const HRESULT tooMany =
        Call(component, L"_DbrSingleRequest",
             {Long(kEcuId), ByteRef(request), Long(kByteBufferSize + 1), ByteRef(response)},
             nullptr, &refused);
    Check(tooMany == E_INVALIDARG || (tooMany == DISP_E_EXCEPTION && refused == E_INVALIDARG),
          "a byte count above 4096 is refused with E_INVALIDARG");

    IConnectionPointContainer* container = nullptr;
    component->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    Check(container != nullptr &&
              container->FindConnectionPoint(IID_IDispatch, &point) == CONNECT_E_NOCONNECTION,
          "no connection point for another interface");
    IID events{};
    ITypeInfo* eventInfo = nullptr;
    Check(SUCCEEDED(EventInterfaceOf(component, &events, &eventInfo)),
          "the event interface is found in the type library");
    if (container != nullptr && SUCCEEDED(container->FindConnectionPoint(events, &point))) {
        DWORD cookie = 0;
        Check(point->Advise(nullptr, &cookie) == E_POINTER, "Advise of a null sink: E_POINTER");
        Check(point->Unadvise(12345) == CONNECT_E_NOCONNECTION,
              "Unadvise of an unknown cookie: CONNECT_E_NOCONNECTION");
        point->Release();
    }
    if (eventInfo != nullptr) eventInfo->Release();
    if (container != nullptr) container->Release();
}

// One session with events; the first sink fails every event and the second unadvises at its
// first, and neither keeps the recorder from hearing everything.
struct Session {
    explicit Session(IDispatch* component) : component_(component) {
        IConnectionPointContainer* container = nullptr;
        ITypeInfo* info = nullptr;
        IID events{};
        if (FAILED(component->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(&container))) ||
            FAILED(EventInterfaceOf(component, &events, &info)) ||
            FAILED(container->FindConnectionPoint(events, &point_))) {
            Check(false, "the event connection point is found");
            return;
        }
        container->Release();
        failing_ = new EventSink(events, info, EventSink::kFail);
        leaving_ = new EventSink(events, info, EventSink::kUnadviseOnFirst);
        recorder_ = new EventSink(events, info, EventSink::kRecord);
        DWORD cookie = 0;
        point_->Advise(failing_, &failingCookie_);
        point_->Advise(leaving_, &cookie);
        leaving_->Connect(point_, cookie);
        point_->Advise(recorder_, &recorderCookie_);
    }

    ~Session() {
        if (point_ == nullptr) return;
        Check(point_->Unadvise(recorderCookie_) == S_OK && point_->Unadvise(failingCookie_) == S_OK,
              "the sinks unadvise");
        point_->Release();
        delete failing_;
        delete leaving_;
        delete recorder_;
    }

    void CheckEvents(const std::string& connectedStatus) {
        if (recorder_ == nullptr) return;
        Check(recorder_->Count("DbrProgressMessage") > 0, "progress events arrived");
        Check(Contains(recorder_->Texts("DbrStatusMessage"), connectedStatus),
              "status event \"" + connectedStatus + "\" arrived");
        Check(recorder_->Count("DbrTraceMessage") > 0, "trace events arrived");
        Check(recorder_->ArgumentTypesOk(), "event arguments are VT_I2/VT_I4 and VT_BSTR");
        const int total = leaving_->Count("DbrProgressMessage") +
                          leaving_->Count("DbrStatusMessage") + leaving_->Count("DbrTraceMessage");
        Check(total == 1, "a sink that unadvised in its first event heard no more");
        Check(failing_->Count("DbrStatusMessage") == recorder_->Count("DbrStatusMessage"),
              "a failing sink keeps receiving and does not stop the others");
    }

    IDispatch* component_;
    IConnectionPoint* point_ = nullptr;
    EventSink* failing_ = nullptr;
    EventSink* leaving_ = nullptr;
    EventSink* recorder_ = nullptr;
    DWORD failingCookie_ = 0;
    DWORD recorderCookie_ = 0;
};

void RunEcuServices(IDispatch* component, const wchar_t* request, unsigned char positiveService) {
    LONG result = 0;
    const std::string ident = CallText(component, L"DbrGetIdent", {Long(kEcuId)}, &result);
    Check(result >= 0 && !ident.empty(), "DbrGetIdent: " + std::to_string(result));

    const std::string response =
        CallText(component, L"DbrSingleRequest", {Long(kEcuId), Text(request)}, &result);
    Check(result >= 0 && !response.empty(), "DbrSingleRequest: " + response);

    unsigned char bytes[4] = {};
    const int count = std::swscanf(request, L"%hhx %hhx %hhx", &bytes[0], &bytes[1], &bytes[2]);
    unsigned char answer[kByteBufferSize] = {};
    const LONG byteResult = CallLong(component, L"_DbrSingleRequest",
                                     {Long(kEcuId), ByteRef(bytes), Long(count), ByteRef(answer)});
    Check(byteResult > 0 && answer[0] == positiveService,
          "_DbrSingleRequest answers " + std::to_string(byteResult) + " bytes");

    SCODE code = 0;
    const HRESULT download =
        Call(component, L"DbrDownload", {Long(kEcuId), Long(0), Text(L"")}, nullptr, &code);
    char codes[64];
    std::snprintf(codes, sizeof codes, "0x%08lx/0x%08lx", static_cast<unsigned long>(download),
                  static_cast<unsigned long>(code));
    Check(download == -3 || (download == DISP_E_EXCEPTION && code == -3),
          std::string("DbrDownload with empty hex data fails with -3: ") + codes);
}

void RunSession(IDispatch* component, const std::wstring& parameters, const wchar_t* model,
                const wchar_t* request, unsigned char positiveService) {
    Session session(component);
    Check(CallLong(component, L"DbrCreateCommunicationObject", {Text(parameters.c_str())}) == 0,
          "communication object 0 created");
    Check(CallLong(component, L"DbrCreateEcuObject", {Text(model), Long(0)}) == kEcuId,
          "ECU object 1000 created");
    const LONG connect = CallLong(component, L"DbrConnect", {Long(kEcuId)});
    Check(connect >= 0, "DbrConnect: " + std::to_string(connect));
    if (connect >= 0) RunEcuServices(component, request, positiveService);
    Check(CallLong(component, L"DbrDisconnect", {Long(kEcuId)}) >= 0, "DbrDisconnect");
    Check(CallLong(component, L"DbrDeleteEcuObject", {Long(kEcuId)}) == 0, "ECU object deleted");
    Check(CallLong(component, L"DbrDeleteCommunicationObject", {Long(0)}) == 0,
          "communication object deleted");
    session.CheckEvents("Status: 3 CONNECTED");
}

int Usage() {
    std::fprintf(stderr, "usage: LateBoundClient errors | kline <COM port number> | uds\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring scenario = argv[1];
    if (scenario == L"kline" && argc != 3) return Usage();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    CLSID clsid{};
    IDispatch* component = nullptr;
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&component));
    }
    Check(SUCCEEDED(hr), "created by ProgID DiagBridgeV4.CommandInterface");
    if (component != nullptr) {
        if (scenario == L"errors") {
            RunErrors(component);
        } else if (scenario == L"kline") {
            const std::wstring parameters =
                L"KWP2000|RS232=" + std::wstring(argv[2]) + L"|PROGRESS=1|STATUS=1|TRACE=1";
            RunSession(component, parameters, L"T60", L"1A 95", 0x5A);
        } else if (scenario == L"uds") {
            RunSession(component,
                       L"UDS_ISO_14229|VECTOR=1|BAUDRATE=500000|PROGRESS=1|STATUS=1|TRACE=1",
                       L"T60.1", L"22 F1 90", 0x62);
        } else {
            component->Release();
            CoUninitialize();
            return Usage();
        }
        component->Release();
    }
    CoUninitialize();
    std::printf("%s: %d failed\n", Narrow(argv[1]).c_str(), Failures());
    return Failures() == 0 ? 0 : 1;
}
