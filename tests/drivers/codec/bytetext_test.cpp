// 8-bit texts shown as characters: any byte string comes back byte for byte,
// valid UTF-8 shows as its characters, and typed characters are stored as
// UTF-8.
#include "bytetext.h"

#include <gtest/gtest.h>

#include <cstdint>

using tovik::BytesToUtf16;
using tovik::Utf16ToBytes;

TEST(ByteText, EveryByteStringComesBack) {
    // Every string of one and two bytes, then random longer ones drawn from
    // bytes that start, continue or break UTF-8 sequences.
    for (int a = 0; a < 256; ++a) {
        for (int b = -1; b < 256; ++b) {
            std::string s(1, static_cast<char>(a));
            if (b >= 0)
                s += static_cast<char>(b);
            ASSERT_EQ(Utf16ToBytes(BytesToUtf16(s)), s) << a << ' ' << b;
        }
    }
    const unsigned char pool[] = {'a', 0x00, 0x5c, 0x7f, 0x80, 0xbf, 0xc0, 0xc2, 0xdf, 0xe0,
                                  0xed, 0xee, 0xef, 0xf0, 0xf4, 0xf5, 0xff, 0xa0, 0x9f, 0x8f};
    uint32_t seed = 7;
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        for (int i = 0; i < 1 + round % 7; ++i) {
            seed = seed * 1664525u + 1013904223u;
            s += static_cast<char>(pool[(seed >> 24) % sizeof pool]);
        }
        ASSERT_EQ(Utf16ToBytes(BytesToUtf16(s)), s);
    }
}

TEST(ByteText, Utf8ShowsAsItsCharactersAndOtherBytesStandAlone) {
    EXPECT_EQ(BytesToUtf16("caf\xc3\xa9 \xf0\x9f\x98\x80"), u"caf\u00e9 \U0001F600");
    EXPECT_EQ(BytesToUtf16("caf\xe9"), u"caf\xdce9");
    // Shift-JIS: the lead byte stands alone, the backslash stays a backslash.
    EXPECT_EQ(BytesToUtf16("\x95\x5c"), u"\xdc95\\");
    // Encoded surrogates and overlong forms are not characters.
    EXPECT_EQ(BytesToUtf16("\xed\xb3\xa9"), u"\xdced\xdcb3\xdca9");
    EXPECT_EQ(BytesToUtf16("\xc0\xaf"), u"\xdcc0\xdcaf");
    // What a user types is stored as UTF-8.
    EXPECT_EQ(Utf16ToBytes(u"Gr\u00fc\u00df \u8868"), "Gr\xc3\xbc\xc3\x9f \xe8\xa1\xa8");
}
