// The program's codec operations and standard builders: the SML texts they
// load and the bytes those texts produce.
#include "CHVeltSecsII.h"

#include <gtest/gtest.h>

#include <ctime>

using tovik::CHVeltSecsII;

namespace {

// What the builder loaded, written as the SML text it should have given.
std::string sameAs(const std::string& sml) {
    CHVeltSecsII c;
    c.SetSmlText(sml);
    EXPECT_EQ(c.GetLastError(), "") << sml;
    return c.GetHexMessage();
}

} // namespace

TEST(CodecSubclass, GetItemValueReadsBinaryBodyValues) {
    CHVeltSecsII c;
    c.BuildS9(7, "000181010000000000" "2a");
    EXPECT_EQ(c.GetItemValue("[3]"), "1");
    EXPECT_EQ(c.GetItemValue("[9]"), "42");
    EXPECT_EQ(c.GetItemValue("[10]"), "");
    c.SetSml("s1f2<a'x'>");
    EXPECT_EQ(c.GetItemValue("[0]"), "");
}

TEST(CodecSubclass, IsControlMessage) {
    CHVeltSecsII c;
    c.SetHexMessage("ffff0000000100000000");
    EXPECT_TRUE(c.IsControlMessage());
    c.SetHexMessage("7fff8101000000000000"); // S1F1 for device 32767
    EXPECT_FALSE(c.IsControlMessage());
    c.SetHexMessage("ffff0000800100000000"); // stream 0, function 0, SECS-I header
    EXPECT_FALSE(c.IsControlMessage());
}

TEST(CodecBuilders, S9CarriesTheTenHeaderBytes) {
    CHVeltSecsII c;
    c.BuildS9(7, "0001810100000000002a");
    EXPECT_EQ(c.GetHexMessage(), "00000907800100000000" "210a" "0001810100000000002a");
    EXPECT_EQ(c.GetSmlText(),
              "s9f7\n<b 0x00 0x01 0x81 0x01 0x00 0x00 0x00 0x00 0x00 0x2a>");
}

TEST(CodecBuilders, PrimariesOfStreamOne) {
    CHVeltSecsII c;
    c.BuildS1F1();
    EXPECT_EQ(c.GetHexMessage(), "00008101800100000000");
    c.BuildS1F3("<u4 1>\t<u4 2>");
    EXPECT_EQ(c.GetHexMessage(), sameAs("s1F3w{\t<u4 1>\t<u4 2>}"));
    EXPECT_EQ(c.GetHexMessage().substr(20), "0102b10400000001b10400000002");
    c.BuildS1F13("", "");
    EXPECT_EQ(c.GetHexMessage(), "0000810d800100000000" "0100");
    c.BuildS1F13("M", "");
    EXPECT_EQ(c.GetHexMessage().substr(20), "0102" "41014d" "4100");
}

TEST(CodecBuilders, SecondariesTakeTheSystemBytesTheyHold) {
    CHVeltSecsII c;
    c.SetHexMessage("00018101800100120034"); // the primary being answered
    c.BuildS1F2("TOVIK", "1.0");
    EXPECT_EQ(c.GetHexMessage(), sameAs("s1f2{\t<a'TOVIK'>\t<a'1.0'>}"));
    c.BuildS1F4("<u1 3>");
    EXPECT_EQ(c.GetHexMessage(), sameAs("s1F4{\t<u1 3>}"));
    c.BuildS1F14("", "");
    EXPECT_EQ(c.GetHexMessage().substr(20), "0102a501000100");
    c.BuildS1F14("M", "R");
    EXPECT_EQ(c.GetHexMessage().substr(20), "0102a50100010241014d410152");
}

TEST(CodecBuilders, StreamTwo) {
    CHVeltSecsII c;
    c.BuildS2F15(c.FormatU4Pair(1, 4294967295u));
    EXPECT_EQ(c.GetHexMessage(), sameAs("s2f15w{\t{\t<u4 1>\t<u4 4294967295>}}"));
    c.BuildS2F31("070305140309");
    EXPECT_EQ(c.GetHexMessage(), "0000821f800100000000" "410c" "303730333035313430333039");
    c.BuildS2F32(1);
    EXPECT_EQ(c.GetHexMessage(), "00000220800100000000" "a50101");
    c.BuildS2F33(5, c.FormatU4List(10, "<u4 1>\t<u4 2>"));
    EXPECT_EQ(c.GetHexMessage(),
              sameAs("s2f33w{\t<u4 5>\t{\t\t{\t<u4 10>\t{\t\t<u4 1>\t<u4 2>\t}}\t}}"));
    c.BuildS2F34(2);
    EXPECT_EQ(c.GetHexMessage(), "00000222800100000000" "a50102");
    c.BuildS2F35(6, c.FormatU4List(300, "<u4 10>"));
    EXPECT_EQ(c.GetHexMessage().substr(0, 8), "00008223");
    EXPECT_EQ(c.GetHexMessage().substr(20),
              "0102b10400000006" "0101" "0102b1040000012c" "0101b1040000000a");
    c.BuildS2F36(0);
    EXPECT_EQ(c.GetHexMessage(), "00000224800100000000" "a50100");
    c.BuildS2F37(true, "<u4 300>");
    EXPECT_EQ(c.GetHexMessage(), "00008225800100000000" "0102250101" "0101b1040000012c");
    c.BuildS2F37(false, "");
    EXPECT_EQ(c.GetHexMessage().substr(20), "01022501000100");
    c.BuildS2F38(1);
    EXPECT_EQ(c.GetHexMessage(), "00000226800100000000" "a50101");
    c.BuildS2F41("START", c.FormatNameItem("LOT", "<a'L1'>"));
    EXPECT_EQ(c.GetHexMessage().substr(20),
              "0102" "41055354415254" "0101" "0102" "41034c4f54" "41024c31");
    c.BuildS2F42(4, c.FormatNameU1("LOT", 2));
    EXPECT_EQ(c.GetHexMessage(), sameAs("s2f42{\t<u1'4'>\t{\t\t{\t<a'LOT'>\t<u1 2>}\t}}"));
}

TEST(CodecBuilders, FormattingOperationsReturnEntriesAndLoadNothing) {
    CHVeltSecsII c;
    c.BuildS1F1();
    EXPECT_EQ(c.FormatU4Pair(1, 2), "{\t<u4 1>\t<u4 2>}");
    EXPECT_EQ(c.FormatU4List(7, "<u4 8>"), "{\t<u4 7>\t{\t\t<u4 8>\t}}");
    EXPECT_EQ(c.FormatNameU1("P", 255), "{\t<a'P'>\t<u1 255>}");
    EXPECT_EQ(c.FormatNameItem("P", "<u2 3>"), "{\t<a'P'>\t<u2 3>}");
    EXPECT_EQ(c.GetHexMessage(), "00008101800100000000");
}

TEST(CodecBuilders, S2F31TimeText) {
    std::tm t{};
    t.tm_year = 107; // 2007
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(CHVeltSecsII::TimeText(t), "070305140309");

    CHVeltSecsII c;
    c.BuildS2F31("");
    c.SetItemPath("");
    const std::string text = c.GetItemValue();
    ASSERT_EQ(text.size(), 12u);
    for (char ch : text)
        EXPECT_TRUE(ch >= '0' && ch <= '9') << text;
    EXPECT_EQ(c.GetStream(), 2);
    EXPECT_EQ(c.GetFunction(), 31);
}
