// Runs the codec's text fixtures: one file per feature, one case per line.
//   sml TEXT => BODY HEX        SML in, the message body out
//   msg TEXT => MESSAGE HEX     SML in, header and body out
//   hex MESSAGE HEX => SML      hex in, the printed SML out
// Hex may be grouped by blanks. An expected "error: ..." is the codec's
// error; byte markers as in fixture_file.h. Every case that loads is also printed and loaded again: the
// printed SML must give the same bytes and print the same again.
#include "CVeltSecsII.h"

#include "../../common/fixture_file.h"

using tovik::CVeltSecsII;

namespace {

std::string result(const CVeltSecsII& c, const std::string& out) {
    return c.GetLastError().empty() ? out : "error: " + c.GetLastError();
}

// Stream, function, W-bit and body: what SML can carry.
std::string smlPart(const std::string& hex) {
    return hex.substr(4, 4) + hex.substr(20);
}

void checkCase(const std::string& mode, const std::string& input, const std::string& expected) {
    CVeltSecsII c;
    if (mode == "hex") {
        c.SetHexMessage(input);
        EXPECT_EQ(result(c, c.GetSmlText()), expected);
    } else {
        c.SetSmlText(input);
        EXPECT_EQ(result(c, mode == "msg" ? c.GetHexMessage() : c.GetHexMessage().substr(20)), expected);
    }
    if (!c.GetLastError().empty()) {
        EXPECT_EQ(c.BodySize(), 0u) << "a failed load holds no body";
        return;
    }
    CVeltSecsII back;
    back.SetSmlText(c.GetSmlText());
    ASSERT_EQ(back.GetLastError(), "") << c.GetSmlText();
    EXPECT_EQ(smlPart(back.GetHexMessage()), smlPart(c.GetHexMessage())) << c.GetSmlText();
    EXPECT_EQ(back.GetSmlText(), c.GetSmlText());
}

class CodecFixture : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(CodecFixture, EveryCaseGivesItsResult) {
    int cases = 0, number = 0;
    for (const std::string& line : tovik::test::fixtureLines(GetParam())) {
        ++number;
        const auto arrow = line.find(" => ");
        if (line.empty() || line[0] == '#')
            continue;
        ASSERT_NE(arrow, std::string::npos) << "line " << number << ": no ' => '";
        const auto space = line.find(' ');
        SCOPED_TRACE("fixture line " + std::to_string(number) + ": " + line);
        const std::string mode = line.substr(0, space);
        ASSERT_TRUE(mode == "sml" || mode == "msg" || mode == "hex");
        std::string expected = tovik::test::decodeMarkers(line.substr(arrow + 4));
        if (mode != "hex" && expected.rfind("error: ", 0) != 0) // hex may be grouped by blanks
            expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        checkCase(mode, tovik::test::decodeMarkers(line.substr(space + 1, arrow - space - 1)), expected);
        ++cases;
    }
    EXPECT_GT(cases, 0);
}

INSTANTIATE_TEST_SUITE_P(Text, CodecFixture,
                         ::testing::ValuesIn(tovik::test::fixtureFiles(TOVIK_CODEC_FIXTURES)),
                         tovik::test::fixtureName);

} // namespace
