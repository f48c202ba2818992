#include "tools/diagbridge/Demo.h"

#include <cstdio>
#include <sstream>

#include "component/CCommandInterface.h"
#include "tools/diagbridge/Shell.h"
#include "tools/diagbridge/Terminal.h"

namespace diagbridge::cli {

const char* DemoScript() {
    return R"(# The component and its object tables.
DbrGetVersion
DbrCreateCommunicationObject "UDS_ISO_14229|VECTOR=1|PROGRESS=1|STATUS=1|TRACE=1"
DbrCreateCommunicationObject "KWP2000|RS232=1|PROGRESS=1|STATUS=1|TRACE=1"
DbrGetConfiguration 0
DbrCreateEcuObject "T60.1_UDS_A" 0
DbrGetConfiguration 1000
DbrDeleteEcuObject 1000
DbrDeleteCommunicationObject 0
)";
}

int RunDemo(const std::vector<std::string>& args) {
    bool json = false;
    for (const std::string& arg : args) {
        if (arg != "--json") {
            std::fprintf(stderr, "diagbridge demo: unexpected argument '%s'\n", arg.c_str());
            return 2;
        }
        json = true;
    }
    CCommandInterface component;
    Shell shell(component, stdout, json, IsTerminal(stdout));
    std::istringstream script(DemoScript());
    return shell.Run(script) == 0 ? 0 : 1;
}

}  // namespace diagbridge::cli
