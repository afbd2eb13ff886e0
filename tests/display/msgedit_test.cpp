// Editing decisions without widgets: running out of names, hex dumps and
// their conversion to and from SML through the real codec.
#include "CHMsgEdit.h"
#include "CHVeltSecsII.h"
#include "CTovikarDoc.h"

#include <gtest/gtest.h>

using namespace tovik;

namespace {

void add(CTovikarDoc& doc, const std::string& name) {
    auto m = std::make_unique<CHOneMsg>();
    m->m_strName = name;
    doc.AddMessage(std::move(m));
}

} // namespace

TEST(EditNames, NoNewNameWhenAllNumbersAreTaken) {
    CTovikarDoc doc;
    for (int n = 1; n <= 9999; ++n)
        add(doc, "New Message #" + std::to_string(n));
    EXPECT_EQ(NewMessageName(doc), "");
}

TEST(EditHexDump, DigitCountsAndCharacters) {
    std::string digits, error;
    EXPECT_FALSE(CollectHexDigits(std::string(19, '0'), digits, error));
    EXPECT_EQ(error, "'Message HEX Dump' should be longer than 20 bytes.");
    EXPECT_FALSE(CollectHexDigits(std::string(21, '0'), digits, error));
    EXPECT_EQ(error, "'Message HEX Dump' should be even length.");
    EXPECT_FALSE(CollectHexDigits("00 01,81 01 00 00 00 00 00 2a", digits, error));
    EXPECT_EQ(error, "'Message HEX Dump' must consist of '0'-'9' or 'a'-'f'.");
    EXPECT_TRUE(CollectHexDigits(std::string(20, '0'), digits, error));
    EXPECT_TRUE(CollectHexDigits("00 01 81 01\r\n00\t00 00 00 00 2A", digits, error));
    EXPECT_EQ(digits, "0001810100000000002A");
}

TEST(EditHexDump, LayoutIsTenBytesPerLineEachWithABlank) {
    EXPECT_EQ(LayoutHexDump("0f1e2d3c4b5a69788796a5b4"), "0f 1e 2d 3c 4b 5a 69 78 87 96 \r\na5 b4 ");
    EXPECT_EQ(LayoutHexDump(std::string(20, '1')), "11 11 11 11 11 11 11 11 11 11 ");
}

TEST(EditConvert, HexDumpToSmlAndBackOrLeftAsItWas) {
    CHVeltSecsII codec;
    // S1F1 W, device 1, system bytes 42, empty body; written loosely.
    std::string text = "00 01 81 01 00 00\r\n00 00 00 2A", error;
    ASSERT_TRUE(ConvertMessageText(text, 0, 1, codec, error)) << error;
    EXPECT_EQ(text.rfind("s1f1w", 0), 0u) << text;
    ASSERT_TRUE(ConvertMessageText(text, 1, 0, codec, error)) << error;
    // SML carries no device id; W-bit, stream and function survive, laid out
    // as the page shows dumps.
    EXPECT_EQ(text.substr(6, 6), "81 01 ");
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef \r\n"), std::string::npos);

    text = "00 01 81 01 zz";
    EXPECT_FALSE(ConvertMessageText(text, 0, 1, codec, error));
    EXPECT_EQ(text, "00 01 81 01 zz");
    EXPECT_EQ(error, "'Message HEX Dump' must consist of '0'-'9' or 'a'-'f'.");
}
