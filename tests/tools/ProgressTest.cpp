#include "tools/diagbridge/Progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace diagbridge::cli {
namespace {

TEST(FormatBarTest, RateAndTimeLeftOnlyWhenBytesMoved) {
    struct Case {
        BarView view;
        const char* text;
    };
    const Case cases[] = {
        {{"Erase", 50, 0, 0, 1000}, "Erase [#####-----]  50%"},
        {{"TransferData", 50, 20000, 0, 2000},
         "TransferData [#####-----]  50%  5.0 kB/s  0:02 left"},
        // The rate counts from where the bar started, not from 0 %.
        {{"TransferData", 60, 1000, 40, 1000},
         "TransferData [######----]  60%  200 B/s  0:02 left"},
        {{"TransferData", 100, 600000, 0, 60000},
         "TransferData [##########] 100%  10.0 kB/s  0:00 left"},
        {{"TransferData", 10, 60000000, 0, 60000},
         "TransferData [#---------]  10%  100.0 kB/s  9:00 left"},
        {{"TransferData", 0, 1000, 0, 500}, "TransferData [----------]   0%"},
        {{"Odd", 130, 0, 0, 0}, "Odd [##########] 100%"},
        {{"Odd", -5, 0, 0, 0}, "Odd [----------]   0%"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatBar(c.view, 10), c.text);
}

// Feeds events to a Progress printing to a memory stream; what it printed.
template <typename Feed>
std::string Printed(OutputMode mode, bool terminal, Feed feed) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    {
        Progress progress(out, mode, terminal);
        feed(progress);
    }
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(ProgressTest, PlainLinesNeverRepeatATextInARow) {
    const std::string text = Printed(OutputMode::kHuman, false, [](Progress& progress) {
        for (int i = 0; i < 100; ++i) progress.DbrProgressMessage(0, 50, "Upgrade status: wait");
        progress.DbrProgressMessage(0, 100, "Upgrade status: Ok");
        progress.DbrStatusMessage(3, "Status: 3 ALIVE");
        progress.DbrStatusMessage(3, "Status: 3 ALIVE");
        progress.DbrTraceMessage(0, "not shown");
    });
    EXPECT_EQ(text, " 50% Upgrade status: wait\n100% Upgrade status: Ok\nstatus: ALIVE\n");
}

TEST(ProgressTest, JsonCarriesEveryEvent) {
    const std::string text = Printed(OutputMode::kJson, true, [](Progress& progress) {
        progress.DbrProgressMessage(2, 40, "step");
        progress.DbrProgressMessage(2, 40, "step");
        progress.DbrStatusMessage(3, "Status: 3 CONNECTED");
        progress.Line("not json");
        progress.Line("{\"command\":\"x\"}", true);
    });
    EXPECT_EQ(text,
              "{\"event\":\"progress\",\"block\":2,\"percent\":40,\"text\":\"step\"}\n"
              "{\"event\":\"progress\",\"block\":2,\"percent\":40,\"text\":\"step\"}\n"
              "{\"event\":\"status\",\"status\":3,\"text\":\"Status: 3 CONNECTED\"}\n"
              "{\"command\":\"x\"}\n");
}

TEST(ProgressTest, QuietShowsOnlyWhatMustBeSaid) {
    const std::string text = Printed(OutputMode::kQuiet, true, [](Progress& progress) {
        progress.DbrProgressMessage(0, 40, "step");
        progress.DbrStatusMessage(3, "Status: 3 CONNECTED");
        progress.Line("connecting");
        progress.Line("62 F1 90", true);
    });
    EXPECT_EQ(text, "62 F1 90\n");
}

TEST(ProgressTest, TerminalRedrawsOneBarPerStepAndEndsItBeforeALine) {
    const std::string text = Printed(OutputMode::kHuman, true, [](Progress& progress) {
        progress.DbrProgressMessage(0, 0, "Connect");
        progress.DbrProgressMessage(0, 100, "Connect done");
        progress.DbrProgressMessage(0, 0, "Erase");
        progress.Line("result");
    });
    EXPECT_EQ(text,
              "\rConnect [------------------------]   0%\x1b[K"
              "\rConnect done [########################] 100%\x1b[K\n"
              "\rErase [------------------------]   0%\x1b[K\n"
              "result\n");
}

TEST(ProgressTest, FailedStepIsTheFirstFailureText) {
    Printed(OutputMode::kQuiet, false, [](Progress& progress) {
        progress.DbrProgressMessage(0, 10, "ServiceDownload: TransferData 10");
        EXPECT_EQ(progress.FailedStep(), "");
        EXPECT_EQ(progress.LastStep(), "ServiceDownload: TransferData 10");
        progress.DbrProgressMessage(0, 0, "ServiceDownload: TransferData failed");
        progress.DbrProgressMessage(0, 100, "Service Download: MainProgramming Sequence failed");
        EXPECT_EQ(progress.FailedStep(), "ServiceDownload: TransferData failed");
    });
}

}  // namespace
}  // namespace diagbridge::cli
