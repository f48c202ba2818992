#include "tools/diagbridge/Shell.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "support/FakeProtocol.h"
#include "tools/diagbridge/ShellLine.h"

namespace diagbridge::cli {
namespace {

ObjectRegistry FakeRegistry() {
    ObjectRegistry registry = DefaultObjectRegistry();
    registry.protocols.push_back(
        {testing::kFakeKeyword, kProtocolUds, "FakeProtocol", &testing::CreateFakeProtocol});
    registry.ecuTypes.push_back(
        {testing::kFakeEcuKeyword, kProtocolUds, "FakeEcu", &testing::CreateFakeEcu});
    return registry;
}

// Runs script through a shell on a memory stream and returns what it printed.
std::string RunScript(const std::string& script, bool json) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    {
        CCommandInterface component(FakeRegistry());
        Shell shell(component, out, json, false);
        std::istringstream input(script);
        shell.Run(input);
    }
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(ShellTest, JsonSessionPrintsEventsBeforeEachCallsOutcome) {
    const std::string output = RunScript(
        "DbrCreateCommunicationObject \"FAKE|STATUS=1|PROGRESS=1|TRACE=1\"\n"
        "DbrCreateEcuObject \"FAKE_ECU\" 0\n"
        "DbrConnect 1000\n"
        "DbrSingleRequest 1000 \"22 f1 90\"\n"
        "_DbrExtSingleRequest 1000 1 \"22 F1 90\" 0x3\n"
        "DbrGetConfiguration 0\n"
        "DbrUpload 1000 \"say \\\"hi\\\" \\\\ there\"\n",
        true);
    const std::string expected =
        R"({"event":"DbrStatusMessage","lStatus":1,"strStatus":"Status: 1 CREATED"})"
        "\n"
        R"({"method":"DbrCreateCommunicationObject","hresult":0,"lCommunicationObjectId":0})"
        "\n"
        R"({"method":"DbrCreateEcuObject","hresult":0,"lEcuObjectId":1000})"
        "\n"
        R"({"event":"DbrProgressMessage","iBlockId":0,"iProgress":0,"strInfo":"ServiceConnectToObject: Start"})"
        "\n"
        R"({"event":"DbrTraceMessage","lTraceId":0,"strTrace":"connect"})"
        "\n"
        R"({"event":"DbrStatusMessage","lStatus":3,"strStatus":"Status: 3 CONNECTED"})"
        "\n"
        R"({"method":"DbrConnect","hresult":0,"lResult":0})"
        "\n"
        R"({"event":"DbrTraceMessage","lTraceId":0,"strTrace":"   3 ms |22 f1 90|62 F1 90|"})"
        "\n"
        R"({"method":"DbrSingleRequest","hresult":0,"lResult":0,"strResponse":"62 F1 90"})"
        "\n"
        R"({"event":"DbrTraceMessage","lTraceId":0,"strTrace":"   3 ms |22 F1 90|62 F1 90|"})"
        "\n"
        R"({"method":"_DbrExtSingleRequest","hresult":0,"lResult":3,"uResponse":"62 F1 90"})"
        "\n"
        R"({"method":"DbrGetConfiguration","hresult":0,"lResult":0,"strObjectInfo":"FAKE|PORT=0|TRACE=1|PROGRESS=1|STATUS=1"})"
        "\n"
        R"({"method":"DbrUpload","hresult":0,"lResult":0,"strUpload":"[Header]|say \"hi\" \\ there"})"
        "\n";
    EXPECT_EQ(output, expected);
}

TEST(ShellTest, ReadableModeShowsTheSameFacts) {
    const std::string output = RunScript(
        "DbrCreateCommunicationObject \"FAKE|PROGRESS=1\"\nDbrGetVersion\nbogus\n", false);
    EXPECT_NE(output.find("DbrCreateCommunicationObject: hresult 0, lCommunicationObjectId 0"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("error: unknown method 'bogus'"), std::string::npos) << output;
}

TEST(ShellLineTest, ArgumentsAndErrors) {
    struct Case {
        const char* line;
        bool ok;
        const char* word;
        std::size_t count;
    };
    const Case cases[] = {
        {"", true, "", 0},
        {"   # comment", true, "", 0},
        {"DbrConnect 1000", true, "DbrConnect", 1},
        {"DbrConnect -5", true, "DbrConnect", 1},
        {"DbrConnect 0x3E8\r", true, "DbrConnect", 1},
        {"M \"a b\" 1 \"\"", true, "M", 3},
        {"M 12ab", false, "", 0},
        {"M 0x", false, "", 0},
        {"M -", false, "", 0},
        {"M 99999999999", false, "", 0},
        {"M \"a\\n\"", false, "", 0},
        {"M \"a\"b", false, "", 0},
        {"M \"open", false, "", 0},
    };
    for (const Case& c : cases) {
        ShellLine parsed;
        std::string error;
        EXPECT_EQ(ParseShellLine(c.line, parsed, error), c.ok) << c.line;
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.line;
            continue;
        }
        EXPECT_EQ(parsed.word, c.word) << c.line;
        EXPECT_EQ(parsed.arguments.size(), c.count) << c.line;
    }
    ShellLine parsed;
    std::string error;
    ASSERT_TRUE(ParseShellLine("M 0x3E8 \"q\\\"\\\\\"", parsed, error));
    EXPECT_EQ(parsed.arguments[0].integer, 1000);
    EXPECT_EQ(parsed.arguments[1].text, "q\"\\");
}

}  // namespace
}  // namespace diagbridge::cli
