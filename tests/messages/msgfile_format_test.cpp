// The stored form byte for byte, what a store and reload changes, the escape
// rules, the read limit and the parser's error report.
#include "CHSmlLex.h"
#include "CHSmlYacc.h"
#include "MsgFileFormat.h"
#include "MsgFileText.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "../common/scratch.h"

using namespace tovik;

namespace {

std::unique_ptr<CHOneMsg> makeMsg(std::string name, bool structure, std::string text, std::string comment = {}) {
    auto msg = std::make_unique<CHOneMsg>();
    msg->m_strName = std::move(name);
    msg->m_bStructure = structure;
    msg->m_strText = std::move(text);
    msg->m_strComment = std::move(comment);
    return msg;
}

const std::string kHeaderLine1 = "/" + std::string(39, '*');
const std::string kHeaderLine5 = std::string(39, '*') + "/";

std::vector<std::string> splitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(text.substr(start, p - start));
    lines.push_back(text.substr(start)); // what follows the last CR LF
    return lines;
}

} // namespace

TEST(MessageFileStore, EmptyDocumentIsTheSixHeaderLines) {
    const std::string text = StoreMsgFile({});
    const auto lines = splitCrLf(text);
    ASSERT_EQ(lines.size(), 7u) << "six CR LF ended lines and nothing after";
    EXPECT_EQ(lines[0], kHeaderLine1);
    EXPECT_EQ(lines[1], " Pelmo Data File");
    EXPECT_EQ(lines[2], "");
    EXPECT_FALSE(lines[3].empty());
    EXPECT_EQ(lines[3].find("*/"), std::string::npos);
    EXPECT_EQ(lines[4], kHeaderLine5);
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "");

    CHOneMsgList list;
    list.push_back(makeMsg("stale", true, "s1f1\r\n"));
    const MsgFileLoad load = LoadMsgFileText(text, list);
    EXPECT_TRUE(load.parse.ok);
    EXPECT_TRUE(load.diagnostics.empty());
    EXPECT_TRUE(list.empty()) << "a load replaces what the list held";
}

TEST(MessageFileStore, DefinitionsAreWrittenByteForByte) {
    CHOneMsgList list;
    list.push_back(makeMsg("S1F2 reply", true, "s1f2\r\n{\t<a'TOVIK'>}\r\n\r\n\r\n", "one line"));
    list.push_back(makeMsg("ack", false, "00000a02000000000000210100", "first\r\nsecond\r\n"));
    list.push_back(makeMsg("empty", true, ""));
    list.push_back(makeMsg("caf\xe9", true, "<a'\xe9'>\r\n", "\xe9")); // high bytes as they are
    const std::string header = StoreMsgFile({});
    const std::string expected = header + "'S1F2 reply'\r\n"
                                          "/**\r\n"
                                          "one line*/\r\n"
                                          "Begin List\r\n"
                                          "s1f2\r\n{\t<a'TOVIK'>}\r\n"
                                          "End List\r\n"
                                          "\r\n"
                                          "'ack'\r\n"
                                          "/**\r\n"
                                          "first\r\nsecond\r\n"
                                          "*/\r\n"
                                          "Begin Msg\r\n"
                                          "00000a02000000000000210100\r\n"
                                          "End Msg\r\n"
                                          "\r\n"
                                          "'empty'\r\n"
                                          "Begin List\r\n"
                                          "\r\n"
                                          "End List\r\n"
                                          "\r\n"
                                          "'caf\xe9'\r\n/**\r\n\xe9*/\r\nBegin List\r\n<a'\xe9'>\r\nEnd List\r\n\r\n";
    EXPECT_EQ(StoreMsgFile(list), expected);
}

TEST(MessageFileRoundTrip, WrittenFormReadsBackUnchanged) {
    CHOneMsgList list;
    list.push_back(makeMsg("it's \xe9t\xe9", true, "s1f2\r\n{\t<a'M\xfc'>\t<a'1.0'>}\r\n", "c1\r\n  c2\r\n"));
    list.push_back(makeMsg("dump", false, "00000a02000000000000210100", "x\xff\r\n"));
    list.push_back(makeMsg("S1F1", true, "s1f1w\r\n"));
    const std::string first = StoreMsgFile(list);

    CHOneMsgList loaded;
    ASSERT_TRUE(LoadMsgFileText(first, loaded).parse.ok);
    ASSERT_EQ(loaded.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(loaded[i]->m_strName, list[i]->m_strName);
        EXPECT_EQ(loaded[i]->m_bStructure, list[i]->m_bStructure);
        EXPECT_EQ(loaded[i]->m_strText, list[i]->m_strText);
        EXPECT_EQ(loaded[i]->m_strComment, list[i]->m_strComment);
    }
    EXPECT_EQ(StoreMsgFile(loaded), first);
}

TEST(MessageFileRoundTrip, DocumentedChangesOfAStoreAndReload) {
    CHOneMsgList list;
    list.push_back(makeMsg("lines", true, "s1f2\n\n{\r\n\r\n}", "no final break"));
    list.push_back(makeMsg("spaced dump", false, "00 00 0a 02\r\n00 00 00 00\r\n00 00"));
    list.push_back(makeMsg("typed \\x41", true, "<a'\\x42'>\r\n", "\\x43\r\n"));
    CHOneMsgList loaded;
    ASSERT_TRUE(LoadMsgFileText(StoreMsgFile(list), loaded).parse.ok);
    ASSERT_EQ(loaded.size(), 3u);
    // LF-only and empty lines come back as CR LF lines without blanks; the
    // unterminated last line gets its line break from the writer.
    EXPECT_EQ(loaded[0]->m_strText, "s1f2\r\n{\r\n}\r\n");
    EXPECT_EQ(loaded[0]->m_strComment, "no final break\r\n");
    EXPECT_EQ(loaded[1]->m_strText, "00000a02000000000000");
    EXPECT_EQ(loaded[2]->m_strName, "typed A");
    EXPECT_EQ(loaded[2]->m_strText, "<a'B'>\r\n");
    EXPECT_EQ(loaded[2]->m_strComment, "C\r\n");
}

TEST(MessageFileRoundTrip, EndListInsideATextCutsTheBody) {
    CHOneMsgList list;
    list.push_back(makeMsg("cut", true, "a\r\nEnd List\r\nb\r\n"));
    list.push_back(makeMsg("after", true, "s1f1\r\n"));
    CHOneMsgList loaded;
    const MsgFileLoad load = LoadMsgFileText(StoreMsgFile(list), loaded);
    EXPECT_FALSE(load.parse.ok);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strText, "a\r\n");
    EXPECT_EQ(load.parse.errorLine, 11); // the "b" line: header, name, Begin, a, End List, b
}

TEST(MessageFileRoundTrip, BlockCommentInsideATextSwallowsUpToTheNextClose) {
    CHOneMsgList list;
    list.push_back(makeMsg("a", true, "x /* y\r\n", "note"));
    list.push_back(makeMsg("b", true, "s1f1\r\n", "*/ rest"));
    CHOneMsgList loaded;
    const MsgFileLoad load = LoadMsgFileText(StoreMsgFile(list), loaded);
    // The open comment in a's body closes at b's comment "*/ rest": what follows,
    // b's Begin List included, is body text of a up to the End List that closes b.
    ASSERT_TRUE(load.parse.ok) << load.diagnostics;
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strName, "a");
    EXPECT_EQ(loaded[0]->m_strText, "x  rest*/\r\nBegin List\r\ns1f1\r\n");
}

TEST(MessageFileText, TrimTrailingCrLfRemovesOnlyPairs) {
    EXPECT_EQ(TrimTrailingCrLf("a\r\n\r\n\r\n"), "a");
    EXPECT_EQ(TrimTrailingCrLf("\r\n"), "");
    EXPECT_EQ(TrimTrailingCrLf("a\n"), "a\n");
    EXPECT_EQ(TrimTrailingCrLf("a\r"), "a\r");
    EXPECT_EQ(TrimTrailingCrLf("a\n\r\n"), "a\n");
    EXPECT_EQ(TrimTrailingCrLf("\n"), "\n");
}

TEST(MessageFileText, EscapeAndUnescapeRestoreEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string escaped = EscapeHighBytes(all);
    for (char c : escaped)
        EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    EXPECT_EQ(escaped.size(), 128u + 128u * 4u);
    EXPECT_NE(escaped.find("\\xe9"), std::string::npos) << "lower-case digits";
    EXPECT_EQ(UnescapeHex(escaped), all);
}

TEST(MessageFileText, UnescapeTakesOnlyCompleteSequences) {
    EXPECT_EQ(UnescapeHex("\\xAb\\x0a"), "\xab\n");
    EXPECT_EQ(UnescapeHex("\\X41"), "\\X41");
    EXPECT_EQ(UnescapeHex("\\x4G"), "\\x4G");
    EXPECT_EQ(UnescapeHex("end \\x4"), "end \\x4");
    EXPECT_EQ(UnescapeHex("\\\\x41"), "\\A");
    EXPECT_EQ(UnescapeHex("\\x5cx41"), "\\x41") << "the scan continues after a replaced sequence";
}

TEST(MessageFileText, NormalizeKeepsAnOpenLastLineOnlyForComments) {
    EXPECT_EQ(NormalizeLines("a\r\n\nb", LastLine::Drop), "a\r\n");
    EXPECT_EQ(NormalizeLines("a\r\n\nb", LastLine::Keep), "a\r\nb\r\n");
    EXPECT_EQ(NormalizeLines("\r\r\n\n", LastLine::Keep), "");
}

TEST(MessageFileLoad, OnlyTheReadLimitIsParsed) {
    CHOneMsgList list;
    list.push_back(makeMsg("first", true, "s1f1\r\n"));
    std::string text = StoreMsgFile(list);
    // Blank padding up to the limit, then a definition that is never read.
    text.append(kMsgFileReadLimit - text.size(), ' ');
    text += "'late'\r\nBegin List\r\nEnd List\r\n";
    CHOneMsgList loaded;
    EXPECT_TRUE(LoadMsgFileText(text, loaded).parse.ok);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strName, "first");

    // A definition the limit cuts through is a syntax error; the one before it stays.
    text.resize(kMsgFileReadLimit - 30);
    text += "'cut'\r\nBegin List\r\ns1f1\r\nEnd List\r\n";
    const MsgFileLoad load = LoadMsgFileText(text, loaded);
    EXPECT_FALSE(load.parse.ok);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strName, "first");
}

TEST(MessageFileLoad, ReadMsgFileStopsAtTheLimit) {
    test::ScratchDir dir;
    test::writeFile(dir / "big.tvkm", std::string(2 * 1024 * 1024, 'x'));
    std::string bytes, error;
    ASSERT_TRUE(ReadMsgFile((dir / "big.tvkm").string(), bytes, error)) << error;
    EXPECT_EQ(bytes.size(), kMsgFileReadLimit);

    EXPECT_FALSE(ReadMsgFile((dir / "no such dir" / "x.tvkm").string(), bytes, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadMsgFile(dir.path().string(), bytes, error)) << "a folder is no file";
}

TEST(MessageFileLoad, BodiesLongerThan64KLoadWhole) {
    CHOneMsgList list;
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "<a'line " + std::to_string(i) + "'>\r\n";
    ASSERT_GT(text.size(), 65536u);
    list.push_back(makeMsg("big", true, text));
    CHOneMsgList loaded;
    ASSERT_TRUE(LoadMsgFileText(StoreMsgFile(list), loaded).parse.ok);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strText, text);
}

TEST(MessageFileLoad, RandomBytesGiveCompleteDefinitionsOrAnError) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(200000, '\0');
        // Biased towards the language's own characters so that some definitions complete.
        static constexpr char alphabet[] = "'\n\r */BeginEndListMsg0a \t";
        for (char& c : bytes)
            c = (rng() % 4 == 0) ? static_cast<char>(rng()) : alphabet[rng() % (sizeof alphabet - 1)];
        CHOneMsgList loaded;
        const MsgFileLoad load = LoadMsgFileText(bytes, loaded);
        for (const auto& msg : loaded) {
            if (!msg->m_bStructure) {
                EXPECT_EQ(msg->m_strText.find_first_not_of("0123456789abcdefABCDEF"), std::string::npos);
            } else if (!msg->m_strText.empty()) {
                EXPECT_EQ(msg->m_strText.substr(msg->m_strText.size() - 2), "\r\n");
                EXPECT_EQ(msg->m_strText.find("\r\n\r\n"), std::string::npos);
            }
        }
        if (!load.parse.ok) {
            EXPECT_GE(load.parse.errorLine, 1);
        }
    }
}

TEST(MessageFileParser, ErrorReportIsTwoLines) {
    CHOneMsgList list;
    std::ostringstream diag;
    ParseOutcome outcome;
    EXPECT_FALSE(ParseSmlText(list, "'a'\nBegin\nList\n", diag, &outcome));
    EXPECT_EQ(diag.str(), "(2) parse error\nLast token was \"B\"\n");
    EXPECT_EQ(outcome.errorLine, 2);
    EXPECT_EQ(outcome.lastToken, "B");
}

TEST(MessageFileParser, TwoScannersInOneProcessKeepTheirOwnState) {
    CHSmlLex a("'a' Begin List xy End List");
    CHSmlLex b("/** doc */\n'b'\n/** mine */ Begin Msg 01 End Msg");
    EXPECT_EQ(a.Next().kind, CHSmlLex::TokenKind::Name);
    EXPECT_EQ(b.Next().kind, CHSmlLex::TokenKind::Name);
    EXPECT_EQ(a.Next().kind, CHSmlLex::TokenKind::BeginList);
    EXPECT_EQ(b.Next().kind, CHSmlLex::TokenKind::BeginMsg);
    EXPECT_EQ(a.CurrentState(), CHSmlLex::LIST_BODY);
    EXPECT_EQ(b.CurrentState(), CHSmlLex::MSG_BODY);
    EXPECT_EQ(a.DocComment(), "");
    EXPECT_EQ(b.DocComment(), " mine ");
    EXPECT_EQ(a.Line(), 1);
    EXPECT_EQ(b.Line(), 3);
}
