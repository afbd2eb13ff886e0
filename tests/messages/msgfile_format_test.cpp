// The stored form byte for byte, what a store and reload changes, texts the
// reader cannot tell from its own syntax, and the read limit.
#include "MsgFileFormat.h"

#include <gtest/gtest.h>

#include "../common/files.h"

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

CHOneMsgList reload(const CHOneMsgList& list) {
    CHOneMsgList loaded;
    const MsgFileLoad load = LoadMsgFileText(StoreMsgFile(list), loaded);
    EXPECT_TRUE(load.parse.ok) << load.diagnostics;
    return loaded;
}

} // namespace

TEST(MessageFileStore, DefinitionsAreWrittenByteForByteAfterTheHeader) {
    const std::string header = StoreMsgFile({});
    const std::string stars(39, '*');
    const std::string head = "/" + stars + "\r\n Pelmo Data File\r\n\r\n", tail = "\r\n" + stars + "/\r\n\r\n";
    ASSERT_GT(header.size(), head.size() + tail.size());
    EXPECT_EQ(header.substr(0, head.size()), head);
    EXPECT_EQ(header.substr(header.size() - tail.size()), tail);
    const std::string notice = header.substr(head.size(), header.size() - head.size() - tail.size());
    EXPECT_TRUE(notice.find("\r\n") == std::string::npos && notice.find("*/") == std::string::npos) << notice;

    CHOneMsgList list;
    list.push_back(makeMsg("S1F2 reply", true, "s1f2\r\n{\t<a'TOVIK'>}\r\n\r\n\r\n", "one line"));
    list.push_back(makeMsg("ack", false, "00000a02000000000000210100", "first\r\nsecond\r\n"));
    list.push_back(makeMsg("empty", true, ""));
    list.push_back(makeMsg("caf\xe9", true, "<a'\xe9'>\r\n", "\xe9")); // high bytes as they are
    EXPECT_EQ(StoreMsgFile(list), header + "'S1F2 reply'\r\n/**\r\none line*/\r\nBegin List\r\n"
                                           "s1f2\r\n{\t<a'TOVIK'>}\r\nEnd List\r\n\r\n"
                                           "'ack'\r\n/**\r\nfirst\r\nsecond\r\n*/\r\nBegin Msg\r\n"
                                           "00000a02000000000000210100\r\nEnd Msg\r\n\r\n"
                                           "'empty'\r\nBegin List\r\n\r\nEnd List\r\n\r\n"
                                           "'caf\xe9'\r\n/**\r\n\xe9*/\r\nBegin List\r\n<a'\xe9'>\r\nEnd List\r\n\r\n");
    CHOneMsgList loaded;
    loaded.push_back(makeMsg("stale", true, "s1f1\r\n"));
    EXPECT_TRUE(LoadMsgFileText(header, loaded).parse.ok);
    EXPECT_TRUE(loaded.empty()) << "a load replaces what the list held";
}

TEST(MessageFileRoundTrip, StoredFormReadsBackUnchanged) {
    std::string big;
    for (int i = 0; i < 10000; ++i) // longer than 64 KiB
        big += "<a'line " + std::to_string(i) + "'>\r\n";
    CHOneMsgList list;
    list.push_back(makeMsg("it's \xe9t\xe9", true, "s1f2\r\n{\t<a'M\xfc'>\t<a'1.0'>}\r\n", "c1\r\n  c2\r\n"));
    list.push_back(makeMsg("dump", false, "00000a02000000000000210100", "x\xff\r\n"));
    list.push_back(makeMsg("big", true, big));
    const CHOneMsgList loaded = reload(list);
    ASSERT_EQ(loaded.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(loaded[i]->m_strName, list[i]->m_strName);
        EXPECT_EQ(loaded[i]->m_bStructure, list[i]->m_bStructure);
        EXPECT_EQ(loaded[i]->m_strText, list[i]->m_strText);
        EXPECT_EQ(loaded[i]->m_strComment, list[i]->m_strComment);
    }
    EXPECT_EQ(StoreMsgFile(loaded), StoreMsgFile(list));
}

TEST(MessageFileRoundTrip, WhatAStoreAndReloadChanges) {
    CHOneMsgList list;
    list.push_back(makeMsg("lines", true, "s1f2\n\n{\r\n\r\n}", "no final break"));
    list.push_back(makeMsg("spaced dump", false, "00 00 0a 02\r\n00 00 00 00\r\n00 00"));
    list.push_back(makeMsg("typed \\x41", true, "<a'\\x42'>\r\n", "\\x43\r\n"));
    const CHOneMsgList loaded = reload(list);
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

// The writer does not escape: a text holding the file's own syntax reads back
// as syntax. The open comment in a's body closes at b's comment "*/ rest": what
// follows, b's Begin List included, is body text of a up to b's End List.
TEST(MessageFileRoundTrip, SyntaxInsideATextIsReadAsSyntax) {
    CHOneMsgList list;
    list.push_back(makeMsg("a", true, "x /* y\r\n", "note"));
    list.push_back(makeMsg("b", true, "s1f1\r\n", "*/ rest"));
    const CHOneMsgList loaded = reload(list);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strText, "x  rest*/\r\nBegin List\r\ns1f1\r\n");
}

TEST(MessageFileLoad, OnlyTheReadLimitIsReadAndParsed) {
    CHOneMsgList list;
    list.push_back(makeMsg("first", true, "s1f1\r\n"));
    std::string text = StoreMsgFile(list);
    // Blank padding up to the limit, then a definition that is never read.
    text.append(kMsgFileReadLimit - text.size(), ' ');
    text += "'late'\r\nBegin List\r\nEnd List\r\n";
    CHOneMsgList loaded;
    EXPECT_TRUE(LoadMsgFileText(text, loaded).parse.ok);
    ASSERT_EQ(loaded.size(), 1u);

    test::ScratchDir dir;
    test::writeFile(dir / "big.tvkm", text);
    std::string bytes, error;
    ASSERT_TRUE(ReadMsgFile((dir / "big.tvkm").string(), bytes, error)) << error;
    EXPECT_EQ(bytes, text.substr(0, kMsgFileReadLimit));
    EXPECT_FALSE(ReadMsgFile((dir / "no such dir" / "x.tvkm").string(), bytes, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadMsgFile(dir.path().string(), bytes, error)) << "a folder is no file";

    // A definition the limit cuts through is a syntax error; the one before it stays.
    text.resize(kMsgFileReadLimit - 30);
    text += "'cut'\r\nBegin List\r\ns1f1\r\nEnd List\r\n";
    EXPECT_FALSE(LoadMsgFileText(text, loaded).parse.ok);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->m_strName, "first");
}
