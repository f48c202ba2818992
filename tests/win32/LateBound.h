#pragma once
#include <windows.h>

#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// A client that knows the component only by its ProgID: every call goes through
// GetIDsOfNames and Invoke, events arrive through IConnectionPoint at an IDispatch sink.
namespace wine_tests {

// Failed checks so far; each failure prints one line.
int Failures();
void Check(bool ok, const std::string& what);

VARIANT Long(LONG value);
VARIANT Text(const wchar_t* text);  // null gives a null BSTR
VARIANT Bool(bool value);
VARIANT ByteRef(unsigned char* bytes);
VARIANT TextRef(BSTR* text);

std::string Narrow(const wchar_t* text);

// Invokes a method by name with the arguments in declaration order (the retval comes back in
// result); the HRESULT of Invoke, with the exception's code when it reports one.
HRESULT Call(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result,
             SCODE* exceptionCode = nullptr);

// Calls a method whose retval is a long; LONG_MIN when the call failed.
LONG CallLong(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args);

// The IID of the object's default source interface, read from its type library.
HRESULT EventInterfaceOf(IDispatch* object, IID* iid, ITypeInfo** eventInfo);

// An event sink that records what arrives, by event name. behaviour: 0 records, 1 fails
// every event, 2 unadvises itself at its first event.
class EventSink final : public IDispatch {
  public:
    enum Behaviour { kRecord, kFail, kUnadviseOnFirst };
    EventSink(const IID& iid, ITypeInfo* info, Behaviour behaviour);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override;

    void Connect(IConnectionPoint* point, DWORD cookie);
    int Count(const std::string& event);
    // Every text argument of event received so far.
    std::vector<std::string> Texts(const std::string& event);
    bool ArgumentTypesOk() const { return argumentTypesOk_; }

  private:
    std::atomic<ULONG> references_{1};
    IID iid_;
    ITypeInfo* info_;
    Behaviour behaviour_;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> events_;
    std::atomic<bool> argumentTypesOk_{true};
};

}  // namespace wine_tests
