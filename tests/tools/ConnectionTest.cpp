#include "tools/diagbridge/Connection.h"

#include <gtest/gtest.h>

#include "tools/diagbridge/ResultCodes.h"

namespace diagbridge::cli {
namespace {

ConnectionOptions Options(std::string ecu, std::string adapter, std::string port, std::string bus,
                          std::vector<std::string> options = {}) {
    ConnectionOptions connection;
    connection.ecu = std::move(ecu);
    connection.adapter = std::move(adapter);
    connection.port = std::move(port);
    connection.bus = std::move(bus);
    connection.options = std::move(options);
    return connection;
}

TEST(ConnectionTest, PlansFollowModelAdapterAndOptions) {
    struct Case {
        ConnectionOptions options;
        const char* communication;
        const char* ecu;
    };
    const Case cases[] = {
        // A bus names the CAN adapter, and with it the UDS row of a model on two protocols.
        {Options("T60.1", "", "", "virtual:x"), "UDS_ISO_14229|PROGRESS=1|STATUS=1|VECTOR=1",
         "T60.1"},
        // A K-line-only model needs no adapter: the wired one on COM1.
        {Options("T65", "", "/dev/null", ""), "KWP2000|PROGRESS=1|STATUS=1|RS232=1", "T65"},
        {Options("T60.1", "skylink", "/dev/null", ""), "KWP2000|PROGRESS=1|STATUS=1|SKYLINK=1",
         "T60.1"},
        {Options("T60.1_UDS_A", "samtec", "", ""), "UDS_ISO_14229|PROGRESS=1|STATUS=1|SAMTECUSB=1",
         "T60.1_UDS_A"},
        // Keys of the communication object go there, the others to the ECU object.
        {Options("T60.1", "vector", "", "virtual:x", {"BUS=1", "SERVICEUPLOAD=0"}),
         "UDS_ISO_14229|PROGRESS=1|STATUS=1|BUS=1|VECTOR=1", "T60.1|SERVICEUPLOAD=0"},
    };
    for (const Case& c : cases) {
        ConnectionPlan plan;
        std::string error;
        int exitCode = 0;
        ASSERT_TRUE(
            PlanConnection(c.options, DefaultObjectRegistry(), false, plan, error, exitCode))
            << c.options.ecu << ": " << error;
        EXPECT_EQ(plan.communicationParameter, c.communication);
        EXPECT_EQ(plan.ecuParameter, c.ecu);
    }
}

TEST(ConnectionTest, SerialDevicePathBecomesComPortOne) {
    ConnectionPlan plan;
    std::string error;
    int exitCode = 0;
    ConnectionOptions options = Options("T60", "", "/dev/null", "");
    options.baud = 10400;
    ASSERT_TRUE(PlanConnection(options, DefaultObjectRegistry(), true, plan, error, exitCode));
    EXPECT_EQ(plan.communicationParameter,
              "KWP2000|BAUDRATE=10400|PROGRESS=1|STATUS=1|TRACE=1|RS232=1");
    ASSERT_EQ(plan.environment.size(), 1u);
    EXPECT_EQ(plan.environment[0].first, "DIAGBRIDGE_COM1");
    EXPECT_EQ(plan.environment[0].second, "/dev/null");
    EXPECT_EQ(plan.where, "COM1 (/dev/null)");
}

TEST(ConnectionTest, RefusalsSayWhatAndExitByKind) {
    struct Case {
        ConnectionOptions options;
        int exitCode;
        const char* error;
    };
    const Case cases[] = {
        {Options("", "", "", ""), kExitUsage,
         "no ECU model given: --ecu <model> or --profile <name> (see diagbridge models)"},
        {Options("T60.2", "", "", ""), kExitUsage,
         "unknown model 'T60.2' (did you mean 'T60.1'?) (see diagbridge models)"},
        {Options("T60.1", "", "", ""), kExitUsage,
         "model 'T60.1' runs on KWP2000 UDS_ISO_14229: give --protocol or --adapter"},
        {Options("T60", "vector", "", ""), kExitUsage,
         "model 'T60' does not run on the vector adapter"},
        {Options("T60", "", "", "", {"NOSUCH=1"}), kExitUsage,
         "--option NOSUCH is a key of neither KWP2000 nor model T60"},
        {Options("T60", "", "", "", {"RS232"}), kExitUsage, "--option 'RS232' is not KEY=VALUE"},
        {Options("T60", "", "0", ""), kExitUsage, "--port 0 is not a COM port number 1..255"},
        {Options("T60", "", "/dev/no-such-tty", ""), kExitNoAdapter,
         "serial port /dev/no-such-tty (COM1, rs232 adapter) does not exist"},
        {Options("T60.1", "", "", "hub:/no/such.sock"), kExitNoAdapter,
         "CAN bus /no/such.sock (hub: source) does not exist"},
    };
    for (const Case& c : cases) {
        ConnectionPlan plan;
        std::string error;
        int exitCode = 0;
        EXPECT_FALSE(
            PlanConnection(c.options, DefaultObjectRegistry(), false, plan, error, exitCode));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(exitCode, c.exitCode) << c.error;
    }
}

TEST(ConnectionTest, ProtocolGivenMustBeOneOfTheModels) {
    ConnectionOptions options = Options("T60", "", "/dev/null", "");
    options.protocol = "uds_iso_14229";
    ConnectionPlan plan;
    std::string error;
    int exitCode = 0;
    EXPECT_FALSE(PlanConnection(options, DefaultObjectRegistry(), false, plan, error, exitCode));
    EXPECT_EQ(error, "model 'T60' does not run on UDS_ISO_14229 with the rs232 adapter");
    options.protocol = "kwp2000";
    EXPECT_TRUE(PlanConnection(options, DefaultObjectRegistry(), false, plan, error, exitCode));
    EXPECT_EQ(plan.protocol, "KWP2000");
}

TEST(ProfileTest, SectionFillsWhatTheCommandLineLeftOpen) {
    const std::string text =
        "# bench\n[line2]\necu = T65\n\n[line3]\necu = T60.1\n; the hub of bay 3\n"
        "bus = hub:/run/bay3.sock\nbaud = 500000\noption = TRACE=1\noption = BUS=2\n";
    ConnectionOptions profile;
    std::string error;
    ASSERT_TRUE(ReadProfile(text, "p.ini", "line3", profile, error)) << error;
    EXPECT_EQ(profile.ecu, "T60.1");
    EXPECT_EQ(profile.bus, "hub:/run/bay3.sock");
    EXPECT_EQ(profile.baud, 500000);
    ConnectionOptions options = Options("", "", "", "hub:/tmp/other.sock", {"BUS=3"});
    MergeProfile(profile, options);
    EXPECT_EQ(options.ecu, "T60.1");
    EXPECT_EQ(options.bus, "hub:/tmp/other.sock");
    EXPECT_EQ(options.baud, 500000);
    // The command line's options come last, so they win where a key is given twice.
    EXPECT_EQ(options.options, (std::vector<std::string>{"TRACE=1", "BUS=2", "BUS=3"}));
}

TEST(ProfileTest, ErrorsNameFileAndLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"[a]\necu = T60\nadaptor = rs232\n", "p.ini:3: unknown key 'adaptor'"},
        {"[a]\necu T60\n", "p.ini:2: expected key = value"},
        {"[b]\necu = T60\n", "p.ini: no profile [a]"},
    };
    for (const Case& c : cases) {
        ConnectionOptions profile;
        std::string error;
        EXPECT_FALSE(ReadProfile(c.text, "p.ini", "a", profile, error));
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace diagbridge::cli
