#include "tools/diagbridge/ShellMethods.h"

#include <functional>

#include "engine/CConvert.h"

namespace diagbridge::cli {

namespace {
using Kind = ShellArgument::Kind;
using Args = std::vector<ShellArgument>;

struct Method {
    const char* name;
    const char* arguments;  // for the synopsis
    std::vector<Kind> kinds;
    std::size_t optional;  // trailing arguments that may be left out
    std::function<void(CCommandInterface&, const Args&, ShellCallResult&)> call;
};

int32_t I(const Args& args, std::size_t i) {
    return static_cast<int32_t>(args[i].integer);
}
const std::string& S(const Args& args, std::size_t i) {
    return args[i].text;
}

ShellOutput Number(const char* name, int64_t value) {
    return {name, false, value, {}};
}
ShellOutput Text(const char* name, const std::string& value) {
    return {name, true, 0, value};
}

// The byte-buffer request methods: request bytes from a hex byte string, the count from
// the string unless given.
void CallByteRequest(CCommandInterface& c, int32_t id, bool extended, int32_t mode,
                     const std::string& hex, const Args& args, std::size_t countIndex,
                     ShellCallResult& r) {
    uint8_t request[CCommandInterface::kMaxRequestBytes] = {};
    uint8_t response[CCommandInterface::kMaxRequestBytes] = {};
    std::size_t stored = 0;
    const int32_t parsed = HexStringToBytes(hex, request, sizeof(request), stored);
    int32_t count = parsed < 0 ? -1 : static_cast<int32_t>(stored);
    if (args.size() > countIndex) count = I(args, countIndex);
    int32_t result = 0;
    r.hresult = extended ? c._DbrExtSingleRequest(id, mode, request, count, response, &result)
                         : c._DbrSingleRequest(id, request, count, response, &result);
    const std::size_t shown = result > 0 ? static_cast<std::size_t>(result) : 0;
    r.outputs = {Number("lResult", result), Text("uResponse", BytesToHexString(response, shown))};
}

const std::vector<Method>& Methods() {
    static const std::vector<Method> methods = {
        {"DbrGetVersion",
         "[\"strParameter\"]",
         {Kind::String},
         1,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             std::string version;
             r.hresult = c.DbrGetVersion(a.empty() ? std::string() : S(a, 0), &version);
             r.outputs = {Text("strVersion", version)};
         }},
        {"DbrCreateCommunicationObject",
         "\"strParameter\"",
         {Kind::String},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t id = 0;
             r.hresult = c.DbrCreateCommunicationObject(S(a, 0), &id);
             r.outputs = {Number("lCommunicationObjectId", id)};
         }},
        {"DbrDeleteCommunicationObject",
         "lCommunicationObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrDeleteCommunicationObject(I(a, 0), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrCreateEcuObject",
         "\"strParameter\" lCommunicationObjectId",
         {Kind::String, Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t id = 0;
             r.hresult = c.DbrCreateEcuObject(S(a, 0), I(a, 1), &id);
             r.outputs = {Number("lEcuObjectId", id)};
         }},
        {"DbrDeleteEcuObject",
         "lEcuObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrDeleteEcuObject(I(a, 0), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrGetConfiguration",
         "lObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             std::string info;
             r.hresult = c.DbrGetConfiguration(I(a, 0), &info, &result);
             r.outputs = {Number("lResult", result), Text("strObjectInfo", info)};
         }},
        {"DbrConnect",
         "lEcuObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrConnect(I(a, 0), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrDisconnect",
         "lEcuObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrDisconnect(I(a, 0), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrSetDiagnosticAccess",
         "lEcuObjectId lOemId lDiagnosticMode lBaudrate bUseSpecialTiming",
         {Kind::Integer, Kind::Integer, Kind::Integer, Kind::Integer, Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrSetDiagnosticAccess(I(a, 0), I(a, 1), I(a, 2), I(a, 3),
                                                  static_cast<int16_t>(I(a, 4)), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrSetPredefinedDiagnosticAccess",
         "lEcuObjectId lSessionNumber",
         {Kind::Integer, Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrSetPredefinedDiagnosticAccess(I(a, 0), I(a, 1), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrSingleRequest",
         "lEcuObjectId \"strRequest\"",
         {Kind::Integer, Kind::String},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             std::string response;
             r.hresult = c.DbrSingleRequest(I(a, 0), S(a, 1), &response, &result);
             r.outputs = {Number("lResult", result), Text("strResponse", response)};
         }},
        {"_DbrSingleRequest",
         "lEcuObjectId \"uRequest\" [lNumberOfBytes]",
         {Kind::Integer, Kind::String, Kind::Integer},
         1,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             CallByteRequest(c, I(a, 0), false, 0, S(a, 1), a, 2, r);
         }},
        {"DbrUpload",
         "lEcuObjectId \"strHeader\"",
         {Kind::Integer, Kind::String},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             std::string upload;
             r.hresult = c.DbrUpload(I(a, 0), S(a, 1), &upload, &result);
             r.outputs = {Number("lResult", result), Text("strUpload", upload)};
         }},
        {"DbrDownload",
         "lEcuObjectId lType \"strHexData\"",
         {Kind::Integer, Kind::Integer, Kind::String},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrDownload(I(a, 0), I(a, 1), S(a, 2), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrJob",
         "lEcuObjectId \"strJob\"",
         {Kind::Integer, Kind::String},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             r.hresult = c.DbrJob(I(a, 0), S(a, 1), &result);
             r.outputs = {Number("lResult", result)};
         }},
        {"DbrGetIdent",
         "lEcuObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             std::string ident;
             r.hresult = c.DbrGetIdent(I(a, 0), &ident, &result);
             r.outputs = {Number("lResult", result), Text("strIdent", ident)};
         }},
        {"_DbrGetVersion",
         "lCommunicationObjectId",
         {Kind::Integer},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             std::string version;
             r.hresult = c._DbrGetVersion(I(a, 0), &version);
             r.outputs = {Text("strVersion", version)};
         }},
        {"DbrExtSingleRequest",
         "lEcuObjectId lAdressMode \"strRequest\"",
         {Kind::Integer, Kind::Integer, Kind::String},
         0,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             int32_t result = 0;
             std::string response;
             r.hresult = c.DbrExtSingleRequest(I(a, 0), I(a, 1), S(a, 2), &response, &result);
             r.outputs = {Number("lResult", result), Text("strResponse", response)};
         }},
        {"_DbrExtSingleRequest",
         "lEcuObjectId lAdressMode \"uRequest\" [lNumberOfBytes]",
         {Kind::Integer, Kind::Integer, Kind::String, Kind::Integer},
         1,
         [](CCommandInterface& c, const Args& a, ShellCallResult& r) {
             CallByteRequest(c, I(a, 0), true, I(a, 1), S(a, 2), a, 3, r);
         }},
    };
    return methods;
}

const char* KindName(Kind kind) {
    return kind == Kind::Integer ? "an integer" : "a string";
}

bool CheckArguments(const Method& method, const Args& arguments, std::string& error) {
    const std::size_t most = method.kinds.size();
    const std::size_t least = most - method.optional;
    if (arguments.size() < least || arguments.size() > most) {
        error = std::string(method.name) + " takes " + method.arguments;
        return false;
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i].kind != method.kinds[i]) {
            error = std::string(method.name) + ": argument " + std::to_string(i + 1) + " must be " +
                    KindName(method.kinds[i]) + " (" + method.arguments + ")";
            return false;
        }
    }
    return true;
}
}  // namespace

bool CallMethod(CCommandInterface& component, const std::string& name, const Args& arguments,
                ShellCallResult& result, std::string& error) {
    for (const Method& method : Methods()) {
        if (name != method.name) continue;
        if (!CheckArguments(method, arguments, error)) return false;
        method.call(component, arguments, result);
        return true;
    }
    error = "unknown method '" + name + "'";
    return false;
}

std::string MethodSynopsis() {
    std::string text;
    for (const Method& method : Methods()) {
        text += "  " + std::string(method.name) + " " + method.arguments + "\n";
    }
    return text;
}

}  // namespace diagbridge::cli
