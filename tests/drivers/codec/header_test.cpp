// Header fields, ReplyTo and item access, as the exchange reads and writes them.
#include "codec_helpers.h"

#include <gtest/gtest.h>

using tovik::CVeltSecsII;

TEST(CodecHeader, HexHeaderFieldsReadBack) {
    CVeltSecsII c;
    c.SetHexMessage("80018101800100000000"); // SECS-I, R-bit, device 1, S1F1 W
    EXPECT_FALSE(c.GetHsmsFormat());
    EXPECT_EQ(c.GetDevice(), 1);
    EXPECT_EQ(c.GetSessionID(), 0x8001);
    EXPECT_EQ(c.GetStream(), 1);
    EXPECT_EQ(c.GetFunction(), 1);
    EXPECT_TRUE(c.GetWBit());
    EXPECT_EQ(c.GetPType(), 0);
    EXPECT_EQ(c.GetSType(), 0); // SECS-I: always a data message
    c.SetDevice(7);
    EXPECT_EQ(c.GetHexMessage().substr(0, 4), "8007") << "the R-bit stays";
    c.SetHexMessage("000106070000123456780100");
    EXPECT_TRUE(c.GetHsmsFormat());
    EXPECT_EQ(c.GetStream(), 6);
    EXPECT_EQ(c.GetFunction(), 7);
    EXPECT_FALSE(c.GetWBit());
    EXPECT_EQ(c.GetSourceID(), 0x1234);
    EXPECT_EQ(c.GetTransactionID(), 0x5678);
}

TEST(CodecHeader, ControlMessageFields) {
    CVeltSecsII c;
    c.SetHexMessage("ffff0000000100000000"); // Select.req
    EXPECT_TRUE(c.GetHsmsFormat());
    EXPECT_EQ(c.GetDevice(), 32767);
    EXPECT_EQ(c.GetSessionID(), 65535);
    EXPECT_EQ(c.GetControlType(), 1);
    EXPECT_EQ(c.GetSType(), 1);
    c.SetHexMessage("00010000000500000000"); // SType 5 but not session 0xffff
    EXPECT_EQ(c.GetControlType(), 0);
}

TEST(CodecHeader, SmlLoadsASecsIHeader) {
    CVeltSecsII c;
    c.SetSmlText("s2f41w<a'x'>");
    EXPECT_EQ(c.GetHexMessage().substr(0, 20), "00008229800100000000");
    EXPECT_FALSE(c.GetHsmsFormat());
}

TEST(CodecHeader, WrittenFieldsChangeTheHexText) {
    CVeltSecsII c;
    c.SetSmlText("s1f1w");
    c.SetDevice(0x1234);
    c.SetSourceID(0xabcd);
    c.SetTransactionID(42);
    EXPECT_EQ(c.GetHexMessage(), "123481018001abcd002a");
    c.SetPType(0);
    c.SetSType(0);
    EXPECT_TRUE(c.GetHsmsFormat());
    EXPECT_EQ(c.GetHexMessage(), "123481010000abcd002a");
    c.SetSessionID(65535);
    EXPECT_EQ(c.GetDevice(), 32767);
    c.SetDevice(5); // HSMS: the session id becomes the device id
    EXPECT_EQ(c.GetSessionID(), 5);
}

TEST(CodecReplyTo, TakesSystemBytesOnly) {
    CVeltSecsII c;
    c.SetSmlText("s1f2<b 0x00>");
    c.ReplyTo("000101818001a1b2c3d4");
    EXPECT_EQ(c.GetHexMessage(), "000001028001a1b2c3d4"
                                 "210100");
}

TEST(CodecReplyTo, BareBodyTakesStreamAndNextFunction) {
    CVeltSecsII c;
    c.SetSmlText("<b 0>");
    c.ReplyTo("00018d0d800100000007"); // S13F13 W
    EXPECT_EQ(c.GetHexMessage(), "00000d0e800100000007"
                                 "210100");
    EXPECT_FALSE(c.GetWBit());
    EXPECT_EQ(c.GetSmlText(), "s13f14\n<b 0x00>");
}

TEST(CodecReplyTo, BadHexChangesNothing) {
    CVeltSecsII c;
    c.SetSmlText("<b 0>");
    const std::string before = c.GetHexMessage();
    c.ReplyTo("0001");
    c.ReplyTo("zz01810d800100000007");
    EXPECT_EQ(c.GetHexMessage(), before);
    EXPECT_EQ(c.GetStream(), 0);
}

TEST(CodecItemPath, NthValueOfABinaryBody) {
    CVeltSecsII c;
    c.SetSmlText("s9f7<b 0x00 0x01 0x81 0x01 0x00 0x00 0x00 0x00 0x00 0x2a>");
    c.SetItemPath("[9]");
    EXPECT_EQ(c.GetItemFound(), 1);
    EXPECT_EQ(c.GetItemValue(), "42");
    c.SetItemPath("[2]");
    EXPECT_EQ(c.GetItemValue(), "129");
    c.SetItemPath("[10]");
    EXPECT_EQ(c.GetItemFound(), 0);
    EXPECT_EQ(c.GetItemValue(), "");
    c.SetSmlText("s1f1w");
    c.SetItemPath("[0]");
    EXPECT_EQ(c.GetItemFound(), 0) << "no body addresses nothing";
}

TEST(CodecItemPath, NumericArraysAndNestedLists) {
    CVeltSecsII c;
    c.SetSmlText("s6f11w{<u4 7>{<i2 -3 4><a'lot'><f4 0.1>}}");
    c.SetItemPath("[1][0][0]");
    EXPECT_EQ(c.GetItemValue(), "-3");
    c.SetItemPath("[1][0][1]");
    EXPECT_EQ(c.GetItemValue(), "4");
    c.SetItemPath("[1][1]");
    EXPECT_EQ(c.GetItemValue(), "lot");
    c.SetItemPath("[1][2][0]");
    EXPECT_EQ(c.GetItemValue(), "0.1");
    c.SetItemPath("[1]");
    EXPECT_EQ(c.GetItemValue(), "3");
    c.SetItemPath("[1][1][0]"); // no values inside a text
    EXPECT_EQ(c.GetItemFound(), 0);
    c.SetItemPath("[2]");
    EXPECT_EQ(c.GetItemFound(), 0);
    c.SetItemPath("[x]");
    EXPECT_EQ(c.GetItemFound(), 0);
}
