// Which received message settles which open transaction, and the order in
// which the lists give their records back.
#include "CHMsgHeader.h"
#include "CHPrimaryMsg.h"

#include <gtest/gtest.h>

#include <string>

using tovik::CHMsgHeader;
using tovik::CHPrimaryMsgList;
using tovik::CHVeltSecsII;

namespace {

// A header as hex text: device (R-bit in bit 15), stream with W-bit, function,
// system bytes; bytes 4-5 zero.
std::string header(unsigned device, unsigned streamW, unsigned function, unsigned system) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04x%02x%02x0000%08x", device, streamW, function, system);
    return buf;
}

// An S9 report whose body is one binary item of the ten bytes of `offending`.
std::string s9Report(unsigned function, const std::string& offending, unsigned system = 7) {
    return header(0, 9, function, system) + "210a" + offending.substr(0, 20);
}

struct Lists : ::testing::Test {
    CHVeltSecsII codec;
    CHPrimaryMsgList list;
    void SetUp() override { list.Codec = &codec; }
};

} // namespace

TEST(HeaderRecord, ReadsSecsFieldsFromAnyHeaderWithDefaultsForShortText) {
    const CHMsgHeader control("ffff0000000200000000");
    EXPECT_EQ(control.DeviceID, 32767);
    EXPECT_EQ(control.RBit, 1u);
    EXPECT_EQ(control.WBit + control.EBit, 0u);
    EXPECT_EQ(control.BlockNumber, 2);
    const CHMsgHeader upper("8005860CFFFF1234ABCD" "0102");
    EXPECT_EQ(upper.RBit, 1u);
    EXPECT_EQ(upper.DeviceID, 5);
    EXPECT_EQ(upper.WBit, 1u);
    EXPECT_EQ(upper.Stream, 6);
    EXPECT_EQ(upper.Function, 12);
    EXPECT_EQ(upper.EBit, 1u);
    EXPECT_EQ(upper.BlockNumber, 0x7fff);
    EXPECT_EQ(upper.SystemHigh, 0x1234);
    EXPECT_EQ(upper.SystemLow, 0xabcd);
    const CHMsgHeader none;
    EXPECT_EQ(none.DeviceID, 1);
    EXPECT_EQ(none.WBit + none.EBit, 2u);
    EXPECT_EQ(none.BlockNumber, 1);
    const CHMsgHeader shortText("0001810");
    EXPECT_EQ(shortText.Stream, 1);
    EXPECT_EQ(shortText.Function + shortText.SystemLow, 0);
}

TEST_F(Lists, OnlyPrimariesExpectingAReplyAreRecorded) {
    EXPECT_EQ(list.AddPrimary(header(0, 0x01, 1, 1)), nullptr);  // no W-bit
    EXPECT_EQ(list.AddPrimary(header(0, 0x81, 2, 1)), nullptr);  // even function
    EXPECT_EQ(list.AddPrimary(""), nullptr);
    EXPECT_EQ(list.GetCount(), 0u);
    auto* r = list.AddPrimary(header(0, 0x81, 1, 1), "key", 4);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->KeyText, "key");
    EXPECT_EQ(r->KeyNumber, 4u);
    EXPECT_EQ(r->Codec, &codec);
    EXPECT_EQ(list.GetCount(), 1u);
}

TEST_F(Lists, ReplyNeedsStreamNextFunctionAndSystemBytes) {
    list.AddPrimary(header(0, 0x81, 1, 0x00010002));
    // Device id and W-bit play no part.
    EXPECT_NE(list.FindAnswered(header(0x7fff, 0x81, 2, 0x00010002), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 0x01, 2, 0x00010003), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 0x01, 2, 0x00020002), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 0x02, 2, 0x00010002), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 0x01, 3, 0x00010002), false), nullptr);
    // The user pairing a definition: any system bytes.
    EXPECT_NE(list.FindAnswered(header(0, 0x01, 2, 0x99), true), nullptr);
    // An abort answers any function of the stream.
    EXPECT_NE(list.FindAnswered(header(0, 0x01, 0, 0x00010002), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 0x01, 0, 0x5), false), nullptr);
    // Keys, when given, must match exactly.
    list.RemoveAll();
    list.AddPrimary(header(0, 0x81, 1, 1), "a", 1);
    EXPECT_EQ(list.FindAnswered(header(0, 1, 2, 1), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 1, 2, 1), false, "a", 2), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 1, 2, 1), false, "A", 1), nullptr);
    EXPECT_NE(list.FindAnswered(header(0, 1, 2, 1), false, "a", 1), nullptr);
}

TEST_F(Lists, S9ReportCarryingTheHeaderSettlesIt) {
    const std::string sent = header(1, 0x86, 11, 0x0000002a) + "a100";
    list.AddPrimary(sent);
    for (unsigned f : {1u, 3u, 5u, 7u, 13u})
        EXPECT_NE(list.FindAnswered(s9Report(f, sent), false), nullptr) << "S9F" << f;
    // Another primary's header, and S9 reports that carry no header, do not.
    EXPECT_EQ(list.FindAnswered(s9Report(7, header(1, 0x86, 11, 0x2b)), false), nullptr);
    EXPECT_EQ(list.FindAnswered(s9Report(11, sent), false), nullptr);
    EXPECT_EQ(list.FindAnswered(header(0, 9, 7, 1), false), nullptr);
    EXPECT_TRUE(list.RemoveAnswered(s9Report(7, sent)));
    EXPECT_TRUE(list.IsEmpty());
    // The header is compared as the stored text stands, case included.
    list.AddPrimary("0001860BFFFF0000002A");
    EXPECT_EQ(list.FindAnswered(s9Report(7, "0001860bffff0000002a"), false), nullptr);
}

TEST_F(Lists, S9F9ComparesWithTheReplyFormOfThePrimary) {
    const std::string sent = header(0, 0x81, 1, 0x00030004);
    list.AddPrimary(sent);
    codec.SetHexMessage(sent);
    codec.ReplyTo(sent);
    const std::string replyForm = codec.GetHexMessage();
    EXPECT_TRUE(list.RemoveAnswered(s9Report(9, replyForm)));
    list.AddPrimary(sent);
    EXPECT_FALSE(list.RemoveAnswered(s9Report(9, header(0, 0x81, 1, 0x00030005))));
}

TEST_F(Lists, SearchesTakeTheOldestMatchAndRemoveOnlyIt) {
    auto* first = list.AddPrimary(header(0, 0x81, 1, 5));
    auto* second = list.AddPrimary(header(0, 0x81, 3, 6));
    auto* third = list.AddPrimary(header(0, 0x81, 1, 5));
    EXPECT_EQ(list.FindAnswered(header(0, 1, 0, 9), true), first);
    EXPECT_EQ(list.FindAnswered(header(0, 1, 4, 9), true), second);
    EXPECT_TRUE(list.RemoveAnswered(header(0, 1, 2, 5)));
    EXPECT_EQ(list.GetHead(), second);
    EXPECT_EQ(list.FindAnswered(header(0, 1, 2, 5), false), third);
    EXPECT_FALSE(list.RemoveRecord(first));
    EXPECT_TRUE(list.RemoveRecord(third));
    EXPECT_FALSE(list.RemoveRecord(third));
    EXPECT_EQ(list.GetCount(), 1u);
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.FindExpired(0xffffffffu), nullptr);
}

TEST_F(Lists, ExpiryIsCreatedPlusTimeoutBeforeNow) {
    list.Timeout = 100;
    auto* a = list.AddPrimary(header(0, 0x81, 1, 1));
    auto* b = list.AddPrimary(header(0, 0x81, 1, 2));
    a->Created = 1000;
    b->Created = 900;
    EXPECT_EQ(list.FindExpired(1000), nullptr);
    EXPECT_EQ(list.FindExpired(1001 + 100), a); // head first, though b is older
    list.RemoveRecord(a);
    EXPECT_EQ(list.FindExpired(1001), b);
}
