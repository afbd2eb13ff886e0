// Runs every fixture of the message file language: one file per feature with
// the file text and the loaded definitions or the error it must give.
//
// Fixture layout (lines starting with '#' before the first section are notes):
//   --- input
//   <file lines, each ended by LF; byte markers as in fixture_file.h>
//   --- expect
//   result: ok                    or   result: error <line> "<last token>"
//   SML|HEX name="..." comment="..." text="..."   one line per definition
// Expected strings use \r \n \t \\ \" and \xHH escapes.
#include "MsgFileFormat.h"

#include "../common/fixture_file.h"

using namespace tovik;

namespace {

std::string escaped(const std::string& s) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n' || c == '\t')
            out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
        else if (c == '\\' || c == '"')
            out += std::string("\\") + c;
        else if (b < 0x20 || b >= 0x7f)
            out += std::string("\\x") + digits[b >> 4] + digits[b & 15];
        else
            out += c;
    }
    return out + "\"";
}

class MessageFileFixture : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(MessageFileFixture, LoadsAsExpected) {
    std::string input;
    std::vector<std::string> expected;
    enum { Notes, Input, Expect } section = Notes;
    for (const std::string& line : test::fixtureLines(GetParam())) {
        if (line == "--- input" || line == "--- expect") {
            section = line == "--- input" ? Input : Expect;
        } else if (section == Input) {
            bool eol = true;
            input += test::decodeMarkers(line, &eol);
            if (eol)
                input += '\n';
        } else if (section == Expect && !line.empty()) {
            expected.push_back(line);
        }
    }
    ASSERT_FALSE(expected.empty()) << "fixture has no expect section";

    CHOneMsgList list;
    const MsgFileLoad load = LoadMsgFileText(input, list);
    std::vector<std::string> actual{load.parse.ok ? std::string("result: ok")
                                                  : "result: error " + std::to_string(load.parse.errorLine) + ' ' +
                                                        escaped(load.parse.lastToken)};
    for (const auto& msg : list)
        actual.push_back(std::string(msg->m_bStructure ? "SML" : "HEX") + " name=" + escaped(msg->m_strName) +
                         " comment=" + escaped(msg->m_strComment) + " text=" + escaped(msg->m_strText));
    EXPECT_EQ(actual, expected);
}

INSTANTIATE_TEST_SUITE_P(Language, MessageFileFixture,
                         ::testing::ValuesIn(test::fixtureFiles(TOVIK_MSGFILE_FIXTURES)), test::fixtureName);

} // namespace
