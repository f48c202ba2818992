#pragma once
#include <windows.h>

#include <oaidl.h>

#include <vector>

namespace diagbridge::com {

// Adapts the arguments of script clients before IDispatch::Invoke reaches a method: VBScript
// and late-bound VBA pass every variable as a VARIANT by reference, which stands here for a
// BSTR* or long* parameter and receives its value afterwards. A byte buffer must come as
// VT_UI1 by reference: anything else would let the method write 4096 bytes into a VARIANT.
class ComScriptArguments {
  public:
    explicit ComScriptArguments(const DISPPARAMS& params);
    ~ComScriptArguments();  // frees values that did not reach a caller
    ComScriptArguments(const ComScriptArguments&) = delete;
    ComScriptArguments& operator=(const ComScriptArguments&) = delete;

    // Matches the arguments to method's parameters; DISP_E_TYPEMISMATCH with the argument's
    // index in *argumentError for one that cannot stand for its parameter.
    HRESULT Adapt(const FUNCDESC& method, UINT* argumentError);
    DISPPARAMS* Params() { return &params_; }
    // Hands the values the method wrote to the callers' variants.
    void WriteBack();

  private:
    struct Slot {
        VARIANT* caller = nullptr;  // the caller's variant behind VT_BYREF | VT_VARIANT
        VARTYPE type = VT_EMPTY;    // VT_BSTR or VT_I4
        BSTR text = nullptr;
        LONG number = 0;
    };

    HRESULT AdaptOne(const TYPEDESC& param, VARIANT& arg, Slot& slot);

    std::vector<VARIANT> args_;
    std::vector<Slot> slots_;
    DISPPARAMS params_;
};

}  // namespace diagbridge::com
