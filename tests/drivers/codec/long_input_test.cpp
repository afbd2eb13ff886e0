// Inputs long enough to go through the block-at-a-time paths of hex text, SML
// print and SML parse, and bodies whose length fields a peer wrote longer than
// needed: the results must be the same as for short inputs, byte for byte.
// Also the raw-bits words ("0x..") that binary items are written with.
#include "codec_helpers.h"
#include "hex.h"

#include <gtest/gtest.h>

#include <cstdio>

using tovik::CVeltSecsII;
using tovik::fromHex;
using tovik::toHex;

namespace {

std::string referenceHex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::vector<uint8_t> everyByteTwice() {
    std::vector<uint8_t> bytes;
    for (int round = 0; round < 2; ++round)
        for (int b = 0; b < 256; ++b)
            bytes.push_back(static_cast<uint8_t>(round ? 255 - b : b));
    return bytes;
}

std::string upper(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string hexError(const std::string& text) {
    std::vector<uint8_t> out{1, 2, 3};
    std::string error;
    EXPECT_FALSE(fromHex(text, out, &error)) << text;
    EXPECT_TRUE(out.empty());
    return error;
}

} // namespace

TEST(HexText, EveryByteValueInEveryBlockPosition) {
    const auto bytes = everyByteTwice();
    // Sizes around the 16-byte blocks: whole blocks, a block and a tail, less than one.
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16},
                             std::size_t{17}, std::size_t{31}, std::size_t{33}, bytes.size()}) {
        for (std::size_t shift : {std::size_t{0}, std::size_t{5}}) {
            if (shift + size > bytes.size())
                continue;
            const std::vector<uint8_t> part(bytes.begin() + static_cast<long>(shift),
                                            bytes.begin() + static_cast<long>(shift + size));
            const std::string hex = toHex(part);
            ASSERT_EQ(hex, referenceHex(part)) << size;
            std::vector<uint8_t> back;
            ASSERT_TRUE(fromHex(hex, back));
            EXPECT_EQ(back, part);
            ASSERT_TRUE(fromHex(upper(hex), back));
            EXPECT_EQ(back, part);
        }
    }
}

TEST(HexText, BlanksAnywhereBetweenPairs) {
    const auto bytes = everyByteTwice();
    const std::string hex = toHex(bytes);
    // A blank after pair 7 lands inside the first 32-digit block; a line break
    // after pair 40 in a later one; a dump with a blank after every pair.
    std::string text = hex.substr(0, 14) + " " + hex.substr(14, 66) + "\r\n" + hex.substr(80);
    std::vector<uint8_t> back;
    ASSERT_TRUE(fromHex(text, back));
    EXPECT_EQ(back, bytes);
    std::string dump;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        dump += hex.substr(i, 2) + (i % 32 == 30 ? "\n" : " ");
    ASSERT_TRUE(fromHex(dump, back));
    EXPECT_EQ(back, bytes);
}

TEST(HexText, FaultsInsideLongTextNameTheirPosition) {
    const std::string hex = toHex(everyByteTwice());
    for (std::size_t at : {std::size_t{3}, std::size_t{20}, std::size_t{31}, std::size_t{32},
                           std::size_t{700}, hex.size() - 1}) {
        for (char bad : {'g', 'G', '/', ':', '@', '`', '\x80', '\0'}) {
            std::string text = hex;
            text[at] = bad;
            EXPECT_EQ(hexError(text), "bad hex digit '" + std::string(1, bad) + "' at position " +
                                          std::to_string(at))
                << at;
        }
    }
    EXPECT_EQ(hexError(hex + "a"), "odd number of hex digits");
    EXPECT_EQ(hexError(hex.substr(0, 41) + " " + hex.substr(41)), "odd number of hex digits");
}

TEST(HexText, MessageLoadCountsFaultPositionsFromTheStartOfTheText) {
    const std::string body = "2140" + toHex(everyByteTwice()).substr(0, 128);
    CVeltSecsII c;
    c.SetHexMessage("00000101800100000000" + body);
    ASSERT_EQ(c.GetLastError(), "");
    c.SetHexMessage("00000101800100000000" + body.substr(0, 50) + "x" + body.substr(51));
    EXPECT_EQ(c.GetLastError(), "hex: bad hex digit 'x' at position 70");
    EXPECT_EQ(c.BodySize(), 0u);
    EXPECT_EQ(c.GetStream(), 0);
    // A header with blanks loads as well as one without.
    c.SetHexMessage("00 00 01 01 80 01 00 00 00 07 " + body);
    ASSERT_EQ(c.GetLastError(), "");
    EXPECT_EQ(c.GetHexMessage(), "00000101800100000007" + body);
}

TEST(CodecLengths, LongLengthFieldsInsideListsAreShortenedEverywhere) {
    // {<a'AB'> {<u1 7 8>} <b 0x2a>} with 3-byte, 2-byte and 1-byte length
    // fields mixed; every item must stay reachable and print as usual.
    const std::string body = "03000003" "43000002" "4142" "020001" "a6000207" "08" "2101" "2a";
    CVeltSecsII c;
    c.SetHexMessage("00000101800100000000" + body);
    ASSERT_EQ(c.GetLastError(), "");
    EXPECT_EQ(c.GetHexMessage().substr(20), "0103" "41024142" "0101" "a5020708" "21012a");
    EXPECT_EQ(c.BodySize(), 15u);
    c.SetItemPath("[1][0][1]");
    EXPECT_EQ(c.GetItemValue(), "8");
    c.SetItemPath("[2]");
    EXPECT_EQ(c.GetItemValue(), "42");
    EXPECT_EQ(c.GetSmlText(), "s1f1\n{\n\t<a'AB'>\n\t{\n\t\t<u1 7 8>\n\t}\n\t<b 0x2a>\n}");
}

TEST(CodecSmlLong, LongNumberArrayPrintsEveryValue) {
    // Far more values than one write of the printer holds.
    std::string sml = "s6f11\n<i4";
    std::string body;
    const uint32_t count = 3000;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t v = static_cast<int32_t>(i * 2654435761u);
        sml += ' ' + std::to_string(v);
        char be[9];
        std::snprintf(be, sizeof be, "%08x", static_cast<uint32_t>(v));
        body += be;
    }
    sml += '>';
    CVeltSecsII c;
    c.SetSmlText(sml);
    ASSERT_EQ(c.GetLastError(), "");
    EXPECT_EQ(c.GetHexMessage().substr(20), "722ee0" + body);
    EXPECT_EQ(c.GetSmlText(), sml);
}

TEST(CodecSmlLong, TextRunsAndEscapesMixInLongText) {
    // Escapes at the start, the end and next to each other in a long text.
    std::string text;
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        text += "ab";
        bytes += "ab";
        if (i % 7 == 0) {
            text += "\\x0d\\x0a";
            bytes += "\r\n";
        }
        if (i % 11 == 0) {
            text += "\\x27\\\\";
            bytes += "'\\";
        }
    }
    const std::string sml = "<a'\\x01" + text + "\\x7f'>";
    bytes = "\x01" + bytes + "\x7f";
    CVeltSecsII c;
    c.SetSmlText(sml);
    ASSERT_EQ(c.GetLastError(), "");
    const std::vector<uint8_t> raw(bytes.begin(), bytes.end());
    ASSERT_GT(raw.size(), 255u);
    ASSERT_LT(raw.size(), 65536u);
    char length[5];
    std::snprintf(length, sizeof length, "%04x", static_cast<unsigned>(raw.size()));
    EXPECT_EQ(c.GetHexMessage().substr(20), "42" + std::string(length) + referenceHex(raw));
    EXPECT_EQ(c.GetSmlText(), sml);
}

TEST(CodecSmlWords, RawBitsWordsUpToTheElementWidth) {
    using tovik::test::bodyHex;
    EXPECT_EQ(bodyHex("<u8 0xFFFFFFFFFFFFFFFF 0X0000000000000000001>"),
              "a110ffffffffffffffff0000000000000001");
    EXPECT_EQ(bodyHex("<b 0xA 0x0ff>"), "21020aff");
    EXPECT_EQ(bodyHex("<u8 0x10000000000000000>"),
              "error: SML line 1, column 5: bad or out-of-range u8 value '0x10000000000000000'");
    EXPECT_EQ(bodyHex("<b 0x1g>"), "error: SML line 1, column 4: bad or out-of-range b value '0x1g'");
    EXPECT_EQ(bodyHex("<b 0x-1>"), "error: SML line 1, column 4: bad or out-of-range b value '0x-1'");
    EXPECT_EQ(bodyHex("<u2 0x10000>"),
              "error: SML line 1, column 5: bad or out-of-range u2 value '0x10000'");
}
