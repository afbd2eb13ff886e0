// 8-bit texts shown as characters: any byte string comes back byte for byte,
// valid UTF-8 shows as its characters, and typed characters are stored as
// UTF-8.
#include "bytetext.h"

#include <gtest/gtest.h>

#include <random>

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
    const std::string pool("a\0\x5c\x7f\x80\xbf\xc0\xc2\xdf\xe0\xed\xee\xef\xf0\xf4\xf5\xff\xa0\x9f\x8f", 20);
    std::mt19937 rng(7);
    for (int round = 0; round < 20000; ++round) {
        std::string s(1 + round % 7, '\0');
        for (char& c : s)
            c = pool[rng() % pool.size()];
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
