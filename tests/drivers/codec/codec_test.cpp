// The codec beyond what one fixture line shows: length fields at their
// limits, nesting depth, what a failed load leaves, header fields and item
// access as the exchange uses them, and texts too long or too many to write
// out by hand.
#include "CVeltSecsII.h"
#include "hex.h"

#include <gtest/gtest.h>

#include <cstdio>

using tovik::CVeltSecsII;

namespace {

const std::string kHeader = "00000101800100000000";

std::string bodyHex(const std::string& sml) {
    CVeltSecsII c;
    c.SetSmlText(sml);
    return c.GetLastError().empty() ? c.GetHexMessage().substr(20) : "error: " + c.GetLastError();
}

std::string hexError(CVeltSecsII& c, const std::string& hex) {
    c.SetHexMessage(hex);
    return c.GetLastError();
}

} // namespace

TEST(CodecLengths, FewestLengthBytesUpToSixteenMebibytes) {
    for (const auto& [size, head] : std::vector<std::pair<std::size_t, std::string>>{
             {255, "41ff"}, {256, "420100"}, {65535, "42ffff"}, {70000, "43011170"}}) {
        const std::string hex = bodyHex("<a'" + std::string(size, 'x') + "'>");
        EXPECT_EQ(hex.substr(0, head.size()), head) << size;
        EXPECT_EQ(hex.size(), head.size() + 2 * size) << size;
    }
    // A list of a binary item of 16 MiB - 1 bytes and a U1: over 16 MiB in all.
    const std::string hex = kHeader + "0102" + "23ffffff" + std::string(2 * 0xffffff, '1') + "a50107";
    CVeltSecsII c;
    c.SetHexMessage(hex);
    ASSERT_EQ(c.GetLastError(), "");
    EXPECT_EQ(c.BodySize(), 2 + 4 + 0xffffffu + 3);
    EXPECT_EQ(c.GetHexMessage(), hex);
    CVeltSecsII back;
    back.SetSmlText(c.GetSmlText());
    EXPECT_EQ(back.GetHexMessage(), hex);
}

// The levels either side of the limit are fixture cases; here the extremes.
TEST(CodecNesting, DeepestListsLoadAndAMillionLevelsFailWithoutExhaustingAnything) {
    CVeltSecsII c;
    c.SetSmlText(std::string(128, '{') + "<u1 1>" + std::string(128, '}'));
    ASSERT_EQ(hexError(c, c.GetHexMessage()), "");
    EXPECT_EQ(c.BodySize(), 128u * 2 + 3);
    c.SetSmlText(std::string(100000, '{'));
    EXPECT_EQ(c.GetLastError(), "SML line 1, column 129: lists nested deeper than 128 levels");
    std::string deep;
    for (int i = 0; i < 1000000; ++i)
        deep += "0101";
    EXPECT_NE(hexError(c, kHeader + deep), "");
}

TEST(CodecBadInput, FailedLoadKeepsTheHeaderReadAndAGoodLoadClearsTheError) {
    CVeltSecsII c;
    EXPECT_NE(hexError(c, "00018101800100000007" "4105414243"), "");
    EXPECT_EQ(c.GetHexMessage(), "00018101800100000007");
    EXPECT_EQ(c.GetTransactionID(), 7);
    EXPECT_NE(hexError(c, "000181"), "");
    EXPECT_EQ(c.GetStream(), 1);
    EXPECT_EQ(c.GetFunction(), 0);
    c.SetSmlText("s6f11w{<u1 300>}");
    EXPECT_NE(c.GetLastError(), "");
    EXPECT_EQ(c.GetHexMessage(), "0000860b800100000000");
    EXPECT_EQ(hexError(c, kHeader), "");
}

TEST(CodecHeader, FieldsReadAndWrittenAsTheExchangeUsesThem) {
    CVeltSecsII c;
    c.SetHexMessage("80018101800100000000"); // SECS-I, R-bit, device 1, S1F1 W
    EXPECT_FALSE(c.GetHsmsFormat());
    EXPECT_EQ(c.GetDevice(), 1);
    EXPECT_EQ(c.GetSessionID(), 0x8001);
    EXPECT_TRUE(c.GetWBit());
    EXPECT_EQ(c.GetSType(), 0); // SECS-I: always a data message
    c.SetDevice(7);
    EXPECT_EQ(c.GetHexMessage().substr(0, 4), "8007") << "the R-bit stays";
    c.SetHexMessage("000106070000123456780100");
    EXPECT_TRUE(c.GetHsmsFormat());
    EXPECT_FALSE(c.GetWBit());
    EXPECT_EQ(c.GetSourceID(), 0x1234);
    EXPECT_EQ(c.GetTransactionID(), 0x5678);
    c.SetHexMessage("ffff0000000100000000"); // Select.req
    EXPECT_EQ(c.GetDevice(), 32767);
    EXPECT_EQ(c.GetControlType(), 1);
    c.SetHexMessage("00010000000500000000"); // SType 5 but not session 0xffff
    EXPECT_EQ(c.GetControlType(), 0);

    c.SetSmlText("s1f1w");
    c.SetDevice(0x1234);
    c.SetSourceID(0xabcd);
    c.SetTransactionID(42);
    EXPECT_EQ(c.GetHexMessage(), "123481018001abcd002a");
    c.SetPType(0);
    c.SetSType(0);
    EXPECT_TRUE(c.GetHsmsFormat());
    EXPECT_EQ(c.GetHexMessage(), "123481010000abcd002a");
    c.SetDevice(5); // HSMS: the session id becomes the device id
    EXPECT_EQ(c.GetSessionID(), 5);
}

TEST(CodecReplyTo, TakesSystemBytesAndForABareBodyTheNextFunction) {
    CVeltSecsII c;
    c.SetSmlText("s1f2<b 0x00>");
    c.ReplyTo("000101818001a1b2c3d4");
    EXPECT_EQ(c.GetHexMessage(), "000001028001a1b2c3d4" "210100");
    c.SetSmlText("<b 0>");
    EXPECT_EQ(c.GetSmlText(), "<b 0x00>") << "no stream and function, no header line";
    const std::string bare = c.GetHexMessage();
    c.ReplyTo("0001");
    c.ReplyTo("zz01810d800100000007");
    EXPECT_EQ(c.GetHexMessage(), bare) << "bad hex changes nothing";
    c.ReplyTo("00018d0d800100000007"); // S13F13 W
    EXPECT_EQ(c.GetHexMessage(), "00000d0e800100000007" "210100");
    EXPECT_EQ(c.GetSmlText(), "s13f14\n<b 0x00>");
}

TEST(CodecItemPath, ValuesOfArraysListsAndLongLengthFields) {
    CVeltSecsII c;
    const auto at = [&c](const char* path) {
        c.SetItemPath(path);
        return c.GetItemFound() ? c.GetItemValue() : "not found";
    };
    c.SetSmlText("s9f7<b 0x00 0x01 0x81 0x01 0x00 0x00 0x00 0x00 0x00 0x2a>");
    EXPECT_EQ(at("[9]"), "42");
    EXPECT_EQ(at("[2]"), "129");
    EXPECT_EQ(at("[10]"), "not found");
    c.SetSmlText("s6f11w{<u4 7>{<i2 -3 4><a'lot'><f4 0.1>}}");
    EXPECT_EQ(at("[1][0][1]"), "4");
    EXPECT_EQ(at("[1][1]"), "lot");
    EXPECT_EQ(at("[1][2][0]"), "0.1");
    EXPECT_EQ(at("[1]"), "3");
    EXPECT_EQ(at("[1][1][0]"), "not found"); // no values inside a text
    EXPECT_EQ(at("[x]"), "not found");
    // Length fields a peer wrote longer than needed: every item stays reachable.
    c.SetHexMessage(kHeader + "03000003" "43000002" "4142" "020001" "a6000207" "08" "2101" "2a");
    EXPECT_EQ(c.GetHexMessage().substr(20), "0103" "41024142" "0101" "a5020708" "21012a");
    EXPECT_EQ(at("[1][0][1]"), "8");
    EXPECT_EQ(at("[2]"), "42");
    c.SetSmlText("s1f1w");
    EXPECT_EQ(at("[0]"), "not found") << "no body addresses nothing";
}

TEST(CodecSmlPrint, LongNumberArrayPrintsEveryValue) {
    // Far more values than one write of the printer holds.
    std::string sml = "s6f11\n<i4", body;
    for (uint32_t i = 0; i < 3000; ++i) {
        const int32_t v = static_cast<int32_t>(i * 2654435761u);
        char be[9];
        std::snprintf(be, sizeof be, "%08x", static_cast<uint32_t>(v));
        sml += ' ' + std::to_string(v);
        body += be;
    }
    sml += '>';
    CVeltSecsII c;
    c.SetSmlText(sml);
    EXPECT_EQ(c.GetHexMessage().substr(20), "722ee0" + body);
    EXPECT_EQ(c.GetSmlText(), sml);
}

// Hex text is read and written in 16-byte blocks: every byte value in every
// block position, whole blocks, a block and a tail, less than one, blanks
// anywhere between pairs, upper-case digits, and a fault anywhere named by
// its position.
TEST(HexText, EveryByteAndEveryFaultInEveryBlockPosition) {
    std::vector<uint8_t> bytes;
    std::string reference, dump;
    for (int i = 0; i < 512; ++i) {
        bytes.push_back(static_cast<uint8_t>(i < 256 ? i : 511 - i));
        char two[3], upper[3];
        std::snprintf(two, sizeof two, "%02x", bytes.back());
        std::snprintf(upper, sizeof upper, "%02X", bytes.back());
        reference += two;
        dump += std::string(upper) + (i % 16 == 15 ? "\r\n" : i % 7 == 3 ? "  " : " ");
    }
    std::vector<uint8_t> back;
    for (std::size_t size : {0, 1, 15, 16, 17, 31, 33, 507}) {
        for (std::size_t shift : {0, 5}) {
            const std::vector<uint8_t> part(bytes.begin() + shift, bytes.begin() + shift + size);
            const std::string hex = tovik::toHex(part);
            ASSERT_EQ(hex, reference.substr(2 * shift, 2 * size)) << size;
            ASSERT_TRUE(tovik::fromHex(hex, back));
            EXPECT_EQ(back, part);
        }
    }
    ASSERT_TRUE(tovik::fromHex(dump, back));
    EXPECT_EQ(back, bytes);

    const auto error = [&back](const std::string& text) {
        std::string e;
        EXPECT_FALSE(tovik::fromHex(text, back, &e));
        EXPECT_TRUE(back.empty());
        return e;
    };
    for (std::size_t at : {std::size_t{3}, std::size_t{31}, std::size_t{32}, std::size_t{700}, reference.size() - 1}) {
        for (char bad : {'g', 'G', '/', ':', '@', '`', '\x80', '\0'}) {
            std::string text = reference;
            text[at] = bad;
            back = {1, 2, 3};
            EXPECT_EQ(error(text), "bad hex digit '" + std::string(1, bad) + "' at position " + std::to_string(at));
        }
    }
    EXPECT_EQ(error(reference + "a"), "odd number of hex digits");
    EXPECT_EQ(error(reference.substr(0, 41) + " " + reference.substr(41)), "odd number of hex digits");
}
