// Item formats and length fields against byte layouts worked out by hand.
#include "codec_helpers.h"

#include <gtest/gtest.h>

using tovik::CVeltSecsII;
using tovik::test::bodyHex;
using tovik::test::smlOfBody;

TEST(CodecFormats, EveryFormatEncodesToItsFormatByte) {
    EXPECT_EQ(bodyHex("<l>"), "0100");
    EXPECT_EQ(bodyHex("{}"), "0100");
    EXPECT_EQ(bodyHex("<b 0x00 0x2a>"), "2102002a");
    EXPECT_EQ(bodyHex("<bool true false>"), "25020100");
    EXPECT_EQ(bodyHex("<a'AB'>"), "41024142");
    EXPECT_EQ(bodyHex("<j'AB'>"), "45024142");
    EXPECT_EQ(bodyHex("<w'A'>"), "49020041");
    EXPECT_EQ(bodyHex("<i8 -2>"), "6108fffffffffffffffe");
    EXPECT_EQ(bodyHex("<i1 -1>"), "6501ff");
    EXPECT_EQ(bodyHex("<i2 -300>"), "6902fed4");
    EXPECT_EQ(bodyHex("<i4 -2147483648>"), "710480000000");
    EXPECT_EQ(bodyHex("<f8 1.5>"), "81083ff8000000000000");
    EXPECT_EQ(bodyHex("<f4 1.5>"), "91043fc00000");
    EXPECT_EQ(bodyHex("<u8 18446744073709551615>"), "a108ffffffffffffffff");
    EXPECT_EQ(bodyHex("<u1 255>"), "a501ff");
    EXPECT_EQ(bodyHex("<u2 1 2>"), "a90400010002");
    EXPECT_EQ(bodyHex("<u4 4294967295>"), "b104ffffffff");
}

TEST(CodecFormats, ListLengthIsTheElementCount) {
    EXPECT_EQ(bodyHex("{<u1 1> <a'x'>}"), "0102a501014101"
                                          "78");
    EXPECT_EQ(bodyHex("{{} {<b 0x01>}}"), "01020100010121"
                                          "0101");
}

TEST(CodecFormats, EmptyItemsHaveZeroLength) {
    EXPECT_EQ(bodyHex("<a''>"), "4100");
    EXPECT_EQ(bodyHex("<u4>"), "b100");
    EXPECT_EQ(bodyHex("<b>"), "2100");
}

TEST(CodecFormats, DecodedValuesPrintAsTheProgramWritesThem) {
    EXPECT_EQ(smlOfBody("a90400010002"), "s1f1\n<u2 1 2>");
    EXPECT_EQ(smlOfBody("6902fed4"), "s1f1\n<i2 -300>");
    EXPECT_EQ(smlOfBody("91043fc00000"), "s1f1\n<f4 1.5>");
    EXPECT_EQ(smlOfBody("25020100"), "s1f1\n<bool true false>");
    EXPECT_EQ(smlOfBody("0102a501014101"
                        "78"),
              "s1f1\n{\n\t<u1 1>\n\t<a'x'>\n}");
    EXPECT_EQ(smlOfBody("01020100010121"
                        "0101"),
              "s1f1\n{\n\t{}\n\t{\n\t\t<b 0x01>\n\t}\n}");
}

TEST(CodecLengths, LengthBytesAreChosenMinimally) {
    EXPECT_EQ(bodyHex("<a'" + std::string(255, 'x') + "'>").substr(0, 4), "41ff");
    EXPECT_EQ(bodyHex("<a'" + std::string(256, 'x') + "'>").substr(0, 6), "420100");
    EXPECT_EQ(bodyHex("<a'" + std::string(65535, 'x') + "'>").substr(0, 6), "42ffff");
    const std::string big = bodyHex("<a'" + std::string(70000, 'x') + "'>");
    EXPECT_EQ(big.substr(0, 8), "43011170"); // 70000 = 0x011170
    EXPECT_EQ(big.size(), 2u * (4 + 70000));
}

TEST(CodecLengths, SixteenMebibyteBodyRoundTrips) {
    // A list of a binary item of 16 MiB - 1 bytes and a U1: over 16 MiB in all.
    const std::string hex = "00000101800100000000"
                            "0102"
                            "23ffffff" +
                            std::string(2 * 0xffffff, '1') + "a50107";
    CVeltSecsII c;
    c.SetHexMessage(hex);
    ASSERT_EQ(c.GetLastError(), "");
    EXPECT_EQ(c.BodySize(), 2 + 4 + 0xffffffu + 3);
    EXPECT_EQ(c.GetHexMessage(), hex);
    CVeltSecsII back;
    back.SetSmlText(c.GetSmlText());
    ASSERT_EQ(back.GetLastError(), "");
    EXPECT_EQ(back.GetHexMessage().substr(20), hex.substr(20));
}
