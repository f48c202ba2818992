#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "tools/diagbridge/ShellLine.h"

namespace diagbridge::cli {

// One out parameter of a call, by its interface name.
struct ShellOutput {
    std::string name;
    bool isText = false;
    int64_t number = 0;
    std::string text;
};

struct ShellCallResult {
    int32_t hresult = 0;
    std::vector<ShellOutput> outputs;  // the result parameter first
};

// Calls the method named name with arguments; false with error set when the method is
// unknown or the arguments do not fit it.
bool CallMethod(CCommandInterface& component, const std::string& name,
                const std::vector<ShellArgument>& arguments, ShellCallResult& result,
                std::string& error);

// The methods with their in-arguments, one line each, for --help.
std::string MethodSynopsis();

}  // namespace diagbridge::cli
