// SML dialects: the program's own texts, other tools' texts, and printing that
// loads back to the same bytes.
#include "codec_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

using tovik::CVeltSecsII;
using tovik::test::bodyHex;
using tovik::test::messageHex;

TEST(CodecSmlDialect, HeaderPartSetsStreamFunctionAndWBit) {
    EXPECT_EQ(messageHex("s1f1w"), "00008101800100000000");
    EXPECT_EQ(messageHex("s1F3w{\t<u4 1>}"), "00008103800100000000"
                                             "0101b10400000001");
    EXPECT_EQ(messageHex("s1F4{\t}"), "00000104800100000000"
                                      "0100");
    EXPECT_EQ(messageHex("S6F11 W <L [0]>."), "0000860b800100000000"
                                              "0100");
    EXPECT_EQ(messageHex("S127F255"), "00007fff800100000000");
}

TEST(CodecSmlDialect, ProgramBuilderTextsLoad) {
    EXPECT_EQ(bodyHex("{\t<a'M'>\t<a'1'>}"), "0102"
                                             "41014d"
                                             "410131");
    EXPECT_EQ(bodyHex("{\t<u1 0>\t{\t\t<a'M'>\t\t<a'1'>\t}}"), "0102"
                                                               "a50100"
                                                               "0102410"
                                                               "14d410131");
    EXPECT_EQ(bodyHex("<u1'7'>"), "a50107");
    EXPECT_EQ(bodyHex("<bool true>"), "250101");
    EXPECT_EQ(bodyHex("<b 0x00 0x2a>"), "2102002a");
    EXPECT_EQ(bodyHex("<B 0>"), "210100");
    EXPECT_EQ(bodyHex("<a'it's'>"), "4104"
                                    "69742773"); // a quote inside a text is kept
}

TEST(CodecSmlDialect, OtherToolsTextsLoad) {
    const std::string expected = "0102"
                                 "410568656c6c6f"
                                 "b10c000000010000000200000003";
    EXPECT_EQ(bodyHex("<L [2]\n  <A \"hello\">\n  <U4 1 2 3>\n>"), expected);
    EXPECT_EQ(bodyHex("<L\n  <A [5] 'hello'>\n  <U4[3] 1 2 3>\n>"), expected);
    EXPECT_EQ(bodyHex("{ <a \"hello\"> <u4 1 2 3> }"), expected);
    EXPECT_EQ(bodyHex("<BOOLEAN TRUE FALSE>"), "25020100");
    EXPECT_EQ(bodyHex("<F4 1.5>"), "91043fc00000");
    EXPECT_EQ(bodyHex("<F8 -2.5E+00>"), "8108c004000000000000");
    EXPECT_EQ(bodyHex("<A \"CR\" 0x0d>"), "410343520d");
}

TEST(CodecSmlPrint, OneLinePerItemIndentedByTabs) {
    CVeltSecsII c;
    c.SetSmlText("s6f11w{<u4 7>{<a'x'>{}}}");
    EXPECT_EQ(c.GetSmlText(), "s6f11w\n{\n\t<u4 7>\n\t{\n\t\t<a'x'>\n\t\t{}\n\t}\n}");
}

TEST(CodecSmlPrint, BareBodyPrintsWithoutHeaderLine) {
    CVeltSecsII c;
    c.SetSmlText("<b 0>");
    EXPECT_EQ(c.GetSmlText(), "<b 0x00>");
    EXPECT_EQ(c.GetStream(), 0);
    EXPECT_EQ(c.GetFunction(), 0);
}

TEST(CodecSmlPrint, TextEscapesLoadBackToTheSameBytes) {
    // Body: A item with quote, backslash, CR, LF, 0x00 and 0xff.
    const std::string body = "4106"
                             "275c0d0a00ff";
    CVeltSecsII c;
    c.SetHexMessage("00000101800100000000" + body);
    EXPECT_EQ(c.GetSmlText(), "s1f1\n<a'\\x27\\\\\\x0d\\x0a\\x00\\xff'>");
    CVeltSecsII back;
    back.SetSmlText(c.GetSmlText());
    EXPECT_EQ(back.GetHexMessage().substr(20), body);
}

// A text may end in a backslash: a Windows folder, or a Shift-JIS character
// whose second byte is 0x5c. The quote after it still closes the text.
TEST(CodecSmlDialect, BackslashBeforeClosingQuoteEndsTheText) {
    EXPECT_EQ(bodyHex("<a'C:\\RECIPES\\'>"), "410b" "433a5c524543495045535c");
    EXPECT_EQ(bodyHex("s1f1 {<a'\x95\x5c'><a'\x83\x5c'>}"), "0102" "4102955c" "4102835c");
    EXPECT_EQ(bodyHex("<j'\x95\x5c'>"), "4502955c");
    EXPECT_EQ(bodyHex("<w'x\\'>"), "49040078005c");
    // A quote that does not end the item is still an escaped quote.
    EXPECT_EQ(bodyHex("<a'it\\'s'>"), "410469742773");
    EXPECT_EQ(bodyHex("<a'\\''>"), "410127");
    EXPECT_EQ(bodyHex("<a'a\\\\'>"), "4102615c");
}

// Whatever bytes a text holds, its printed SML loads back to them and prints
// the same again.
TEST(CodecSmlPrint, AnyTextSurvivesPrintParsePrint) {
    std::string alphabet = "\\'\" <>{}ax\r\n";
    alphabet += '\0';
    alphabet += "\x5c\x95\x83\xff";
    uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        const int length = round % 9;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes += alphabet[(seed >> 16) % alphabet.size()];
        }
        char head[5];
        std::snprintf(head, sizeof head, "41%02x", static_cast<unsigned>(bytes.size()));
        std::string body = head;
        for (unsigned char b : bytes) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", b);
            body += hex;
        }
        CVeltSecsII c;
        c.SetHexMessage("00000101800100000000" + body);
        ASSERT_EQ(c.GetLastError(), "");
        CVeltSecsII back;
        back.SetSmlText(c.GetSmlText());
        ASSERT_EQ(back.GetLastError(), "") << c.GetSmlText();
        ASSERT_EQ(back.GetHexMessage().substr(20), body) << c.GetSmlText();
        ASSERT_EQ(back.GetSmlText(), c.GetSmlText());
    }
}

TEST(CodecSmlPrint, EveryFormatRoundTripsByteForByte) {
    const char* bodies[] = {
        "0100",
        "2103007fff",
        "25030001fe", // boolean byte 0xfe keeps its value
        "4103410a7f",
        "4502a1ff",
        "490600410100fffe", // 2-byte characters beyond 0xff
        "61088000000000000000",
        "650280ff",
        "69047fff8000",
        "71047fffffff",
        "8110"
        "0000000000000001"
        "8000000000000000",             // smallest subnormal, -0.0
        "910c7f80000000000001ffc00000", // inf, smallest subnormal, -nan
        "91087fc000007fc00001",         // quiet NaN, NaN with payload
        "8108400921fb54442d18",         // pi
        "a1080000000000000001",
        "a50100",
        "a902ffff",
        "b10400010000",
        "010301002100a500",
    };
    for (const char* b : bodies) {
        CVeltSecsII c;
        c.SetHexMessage(std::string("00000181800100000000") + b);
        ASSERT_EQ(c.GetLastError(), "") << b;
        CVeltSecsII back;
        back.SetSmlText(c.GetSmlText());
        EXPECT_EQ(back.GetLastError(), "") << c.GetSmlText();
        EXPECT_EQ(back.GetHexMessage(), c.GetHexMessage()) << c.GetSmlText();
    }
}

TEST(CodecSmlPrint, FloatsPrintShortestExactText) {
    CVeltSecsII c;
    c.SetSmlText("<f4 0.1 -0 inf nan>");
    EXPECT_EQ(c.GetSmlText(), "<f4 0.1 -0 inf nan>");
    c.SetSmlText("<f8 0.1 1e+300>");
    EXPECT_EQ(c.GetSmlText(), "<f8 0.1 1e+300>");
    c.SetHexMessage("00000101800100000000"
                    "91047fc00001");
    EXPECT_EQ(c.GetSmlText(), "s1f1\n<f4 0x7fc00001>");
}
