// The engine's codec and the S9 report item: what a peer gets for the header
// of a message the engine rejects.
#include "CHMsgHeader.h"
#include "CHVeltSecsII.h"

#include <gtest/gtest.h>

using tovik::CHVeltSecsII;

TEST(EngineCodec, S9ReportCarriesTheTenHeaderBytesAndReadsBackByPath) {
    CHVeltSecsII c;
    c.SetSml("s9f7" + tovik::HeaderAsBinaryItem("0001810100000000002a" "0102"));
    EXPECT_EQ(c.GetHexMessage(), "00000907800100000000" "210a" "0001810100000000002a");
    EXPECT_EQ(c.GetItemValue("[3]"), "1");
    EXPECT_EQ(c.GetItemValue("[9]"), "42");
    EXPECT_EQ(c.GetItemValue("[10]"), "");
    // A text shorter than a header: the missing bytes are zero.
    EXPECT_EQ(tovik::HeaderAsBinaryItem("ffff0"), "<b 0xff 0xff 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00>");
    c.SetSml("s1f2<a'x'>");
    EXPECT_EQ(c.GetItemValue("[0]"), "");
}

TEST(EngineCodec, IsControlMessage) {
    CHVeltSecsII c;
    c.SetHexMessage("ffff0000000100000000");
    EXPECT_TRUE(c.IsControlMessage());
    c.SetHexMessage("7fff8101000000000000"); // S1F1 for device 32767
    EXPECT_FALSE(c.IsControlMessage());
    c.SetHexMessage("ffff0000800100000000"); // stream 0, function 0, SECS-I header
    EXPECT_FALSE(c.IsControlMessage());
}
