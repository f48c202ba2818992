// The event memory section of the T40 upload text, from answers written by hand.
#include <gtest/gtest.h>

#include "t40kalidor/T40EventText.h"

namespace diagbridge {
namespace {

TEST(T40EventTextTest, EventsAndAddendaFromTheAnswer) {
    const struct {
        const char* answer;
        const char* text;
    } cases[] = {
        {"", "[EventMem]|EventAnz=0|EventX=|"},
        {"47 00 11", "[EventMem]|EventAnz=0|EventX=47 00 11|"},  // no count byte
        // The count promises more than came: zeros where the answer ends.
        {"47 00 11 01 AA",
         "[EventMem]|EventAnz=1|EventX=47 00 11 01 AA|"
         "Event1=  11 01 AA 00 00 00 00 00 00|"},
        // One event, then one whole addendum and the start of a second.
        {"47 00 11 01 21 22 23 24 25 26 27 28 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 B0",
         "[EventMem]|EventAnz=1|EventX=47 00 11 01 21 22 23 24 25 26 27 28 A0 A1 A2 A3 A4 A5 A6 "
         "A7 A8 A9 B0|Event1=  11 01 21 22 23 24 25 26 27|"
         "Addendum1=  28 A0 A1 A2 A3 A4 A5 A6 A7 A8|"},
        {"zz", "[EventMem]|EventAnz=0|EventX=zz|"},  // not hex: no bytes
    };
    for (const auto& c : cases) EXPECT_EQ(T40EventSectionText(c.answer), c.text) << c.answer;
}

}  // namespace
}  // namespace diagbridge
