// The search for vxlapi.dll on a machine where it is in neither of its usual places: the
// user is asked, starting from the common documents path; a cancelled choice is
// "Load Error: <that path>", a chosen stand-in loads. VxlapiLoaderCheck <stand-in path>.
#include <windows.h>

#include <cstdio>
#include <string>

#include "LateBound.h"
#include "drivers/xl/XlSource.h"
#include "drivers/xl/win32/VxlapiPicker.h"
#include "platform/Utf16.h"

using namespace diagbridge;
using wine_tests::Check;

namespace {

std::wstring g_offered;
std::wstring g_answer;

std::wstring AnswerPicker(const std::wstring& initialPath) {
    g_offered = initialPath;
    return g_answer;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: VxlapiLoaderCheck <stand-in vxlapi.dll>\n");
        return 2;
    }
    xl::SetVxlapiPicker(&AnswerPicker);
    const std::string commonDocuments = "\\Vector XL Driver Library\\bin\\vxlapi.dll";

    std::string failure;
    auto source = xl::LoadXlSource(xl::XlSourceSelector(), failure);
    const std::string offered = platform::Utf16ToUtf8(g_offered);
    Check(xl::XlSourceSelector() == "vxlapi", "the Vector library is the default source");
    Check(EndsWith(offered, commonDocuments),
          "the user is offered the common documents path: " + offered);
    Check(source == nullptr && failure == offered,
          "a cancelled choice fails naming that path: " + failure);

    g_answer = argv[1];
    source = xl::LoadXlSource("vxlapi", failure);
    Check(source != nullptr && source->table.openDriver != nullptr &&
              source->table.canTransmit != nullptr,
          "a chosen library loads with its entry points");
    std::printf("vxlapi loader: %d failed\n", wine_tests::Failures());
    return wine_tests::Failures() == 0 ? 0 : 1;
}
