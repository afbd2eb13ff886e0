// Runs every fixture of the message file language: one file per feature with
// the file text and the loaded definitions or the error it must give.
//
// Fixture layout (lines starting with '#' before the first section are notes):
//   --- input
//   <file lines; each gets an LF unless it ends with <NOEOL>;
//    <CR>, <TAB>, <NUL> and <xHH> stand for those bytes>
//   --- expect
//   result: ok                    or   result: error <line> "<last token>"
//   SML|HEX name="..." comment="..." text="..."   one line per definition
// Expected strings use \r \n \t \\ \" and \xHH escapes.
#include "MsgFileFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace tovik;

namespace {

std::string escaped(const std::string& s) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\' || c == '"')
            out += std::string("\\") + c;
        else if (b < 0x20 || b >= 0x7f)
            out += std::string("\\x") + digits[b >> 4] + digits[b & 15];
        else
            out += c;
    }
    return out + "\"";
}

// Decodes the input section's markers.
std::string decodeInputLine(const std::string& line, bool& eol) {
    static const std::pair<std::string, std::string> kMarkers[] = {
        {"<CR>", "\r"}, {"<TAB>", "\t"}, {"<NUL>", std::string(1, '\0')}, {"<NOEOL>", ""}};
    std::string out;
    eol = true;
    for (std::size_t i = 0; i < line.size();) {
        const auto* m = std::find_if(std::begin(kMarkers), std::end(kMarkers),
                                     [&](const auto& k) { return line.compare(i, k.first.size(), k.first) == 0; });
        if (m != std::end(kMarkers)) {
            out += m->second;
            eol = eol && m->first != "<NOEOL>";
            i += m->first.size();
        } else if (line.compare(i, 2, "<x") == 0 && i + 4 < line.size() && line[i + 4] == '>' &&
                   std::isxdigit(static_cast<unsigned char>(line[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(line[i + 3]))) {
            out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
            i += 5;
        } else {
            out += line[i++];
        }
    }
    return out;
}

struct Fixture {
    std::string input;
    std::vector<std::string> expected;
};

Fixture readFixture(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    Fixture f;
    std::string line;
    enum { Notes, Input, Expect } section = Notes;
    while (std::getline(in, line)) {
        if (line == "--- input") {
            section = Input;
        } else if (line == "--- expect") {
            section = Expect;
        } else if (section == Input) {
            bool eol = true;
            f.input += decodeInputLine(line, eol);
            if (eol)
                f.input += '\n';
        } else if (section == Expect && !line.empty()) {
            f.expected.push_back(line);
        }
    }
    return f;
}

std::vector<std::string> actualLines(const std::string& input) {
    CHOneMsgList list;
    const MsgFileLoad load = LoadMsgFileText(input, list);
    std::vector<std::string> lines;
    lines.push_back(load.parse.ok ? std::string("result: ok")
                                  : "result: error " + std::to_string(load.parse.errorLine) + ' ' +
                                        escaped(load.parse.lastToken));
    for (const auto& msg : list) {
        lines.push_back(std::string(msg->m_bStructure ? "SML" : "HEX") + " name=" + escaped(msg->m_strName) +
                        " comment=" + escaped(msg->m_strComment) + " text=" + escaped(msg->m_strText));
    }
    return lines;
}

std::vector<fs::path> fixtureFiles() {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(TOVIK_MSGFILE_FIXTURES)) {
        if (e.path().extension() == ".fixture")
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class MessageFileFixture : public ::testing::TestWithParam<fs::path> {};

TEST_P(MessageFileFixture, LoadsAsExpected) {
    const Fixture f = readFixture(GetParam());
    ASSERT_FALSE(f.expected.empty()) << "fixture has no expect section";
    EXPECT_EQ(actualLines(f.input), f.expected);
}

INSTANTIATE_TEST_SUITE_P(Language, MessageFileFixture, ::testing::ValuesIn(fixtureFiles()),
                         [](const ::testing::TestParamInfo<fs::path>& param) {
                             std::string name = param.param.stem().string();
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

} // namespace
