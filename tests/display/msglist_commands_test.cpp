// The message list and the editing commands, driven as a user would: rows,
// images, the document's records and modified flag, the log lines and the
// message boxes.
#include "CHEventLog.h"
#include "CHMsgCommands.h"
#include "CHMsgListView.h"
#include "CHVeltSecsII.h"
#include "CMsgProperty1.h"
#include "CTovikarDoc.h"
#include "MsgDecode.h"
#include "MsgFileFormat.h"
#include "../common/qt_helpers.h"

#include <messagebox.h>
#include "qbytetext.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <deque>

using namespace tovik;
using S = QStringList;

namespace {

class MsgListCommands : public ::testing::Test {
protected:
    MsgListCommands() {
        oldBox = setMessageBoxHandler([this](QWidget*, const QString& t, const QString&) { boxes << t; });
        oldRunner = CMsgPropertySheet::SetRunner([this](CMsgPropertySheet& sheet) {
            ++sheetsShown;
            if (actions.empty())
                return false;
            auto act = std::move(actions.front());
            actions.pop_front();
            return act(sheet.Page());
        });
    }
    ~MsgListCommands() override {
        setMessageBoxHandler(std::move(oldBox));
        CMsgPropertySheet::SetRunner(std::move(oldRunner));
    }

    CHOneMsg* add(const std::string& name, const std::string& text, bool structure = true) {
        auto m = std::make_unique<CHOneMsg>();
        m->m_strName = name;
        m->m_strText = text;
        m->m_bStructure = structure;
        DecodeStreamFunction(*m, scratch);
        doc.AddMessage(std::move(m));
        show();
        return doc.m_msgList.back().get();
    }
    void show() { list.Rebuild(doc.m_msgList); }
    // The rows as one line, for short comparisons.
    QString rows() const {
        QStringList r;
        for (int i = 0; i < list.count(); ++i)
            r << list.item(i)->text();
        return r.join(QLatin1Char('|'));
    }
    // Selects the row of a definition by its name's bytes.
    bool select(const std::string& name) {
        for (int r = 0; r < list.count(); ++r)
            if (list.MessageAt(r)->m_strName == name)
                return list.SelectRow(r), true;
        return false;
    }
    int image(int row) const { return list.item(row)->data(CHMsgListView::kImageRole).toInt(); }
    QString lastLog() const { return log.Count() ? log.Line(log.Count() - 1) : QString(); }

    // One scripted showing of the property sheet: edit the page, return OK.
    using Action = std::function<bool(CMsgProperty1&)>;
    static Action setName(const QString& n) {
        return [n](CMsgProperty1& p) {
            p.NameEdit()->setText(n);
            return true;
        };
    }

    QApplication& app = test::testApp<QApplication>();
    CTovikarDoc doc;
    CHEventLog log;
    CHMsgListView list;
    CHVeltSecsII scratch;
    CHMsgCommands cmds{doc, list, log, scratch};
    QStringList boxes;
    std::deque<Action> actions;
    int sheetsShown = 0;
    MessageBoxHandler oldBox;
    CMsgPropertySheet::Runner oldRunner;
};

} // namespace

TEST_F(MsgListCommands, RowsAreSortedByNameWithAnImageForTheirKind) {
    CHOneMsg* b = add("b", "s1f1w");
    add("a", "s1f2");
    add("C", "ffff0000000100000000", false);
    add("d", "this is no sml");
    EXPECT_EQ(rows(), QStringLiteral("a|b|C|d"));
    EXPECT_EQ(list.MessageAt(1), b);
    EXPECT_EQ((QList<int>{image(0), image(1), image(2), image(3)}),
              (QList<int>{CHMsgListView::ImageSecondary, CHMsgListView::ImagePrimary, CHMsgListView::ImageStream0,
                          CHMsgListView::ImageError}));
    // A text that does not load is marked, and its row says why.
    EXPECT_EQ(list.item(3)->toolTip(),
              QStringLiteral("SML line 1, column 1: expected a stream and function (s1f1) or an item"));
    EXPECT_TRUE(list.item(0)->toolTip().isEmpty());
    for (int i = 0; i < 4; ++i) // drawn for 2x, not scaled
        EXPECT_EQ(CHMsgListView::IconFor(CHMsgListView::Image(i)).pixmap(QSize(16, 16), 2.0).toImage().size(),
                  QSize(32, 32));
}

TEST_F(MsgListCommands, WithoutASelectionOrADefinitionCommandsOnlyLog) {
    add("caf\xe9", "s1f1w");
    for (void (CHMsgCommands::*cmd)() : {&CHMsgCommands::OnMessageProperty, &CHMsgCommands::OnDeleteMessage,
                                         &CHMsgCommands::OnEditCut, &CHMsgCommands::OnEditCopy}) {
        log.AddText(QString());
        (cmds.*cmd)();
        EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("No selected message.")});
    }
    EXPECT_FALSE(cmds.IsEnabled(CHMsgCommands::ID_DELETE_MESSAGE));
    EXPECT_FALSE(cmds.IsEnabled(CHMsgCommands::ID_EDIT_PASTE));
    EXPECT_TRUE(cmds.IsEnabled(CHMsgCommands::ID_ADD_NEW_MESSAGE));
    // A row whose definition is gone; the name is quoted as its bytes.
    list.SelectRow(0);
    doc.RemoveByName("caf\xe9");
    cmds.OnMessageProperty();
    EXPECT_EQ(BytesFromText(lastLog()), "Cannot find specified message 'caf\xe9'.");
    cmds.OnDeleteMessage();
    EXPECT_EQ(BytesFromText(lastLog()), "Cannot delete specified message 'caf\xe9'.");
    log.AddText(QString());
    cmds.OnEditCut();
    ASSERT_EQ(log.Count(), 1) << "cut says the same";
    EXPECT_EQ(BytesFromText(lastLog()), "Cannot delete specified message 'caf\xe9'.");
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(cmds.ClipMessage(), nullptr);
}

TEST_F(MsgListCommands, PropertyEditStoresDecodesAndResortsTheRow) {
    add("m", "s1f2"); // the document's order is not the list's
    add("a", "s1f1w\r\n<a'x'>\r\n");
    add("z", "s1f3");
    ASSERT_TRUE(select("a"));
    actions.push_back([](CMsgProperty1&) { return true; });
    cmds.OnMessageProperty();
    EXPECT_FALSE(doc.IsModified()) << "an untouched sheet changes nothing";
    EXPECT_EQ(doc.FindByName("a")->m_strText, "s1f1w\r\n<a'x'>\r\n");

    ASSERT_TRUE(select("m"));
    actions.push_back([](CMsgProperty1& p) {
        p.NameEdit()->setText(QStringLiteral("n reply"));
        p.TextEdit()->setPlainText(QStringLiteral("s6f12\n<b 0x00>"));
        p.CommentEdit()->setPlainText(QStringLiteral("line 1\nline 2"));
        return true;
    });
    cmds.OnMessageProperty();
    const CHOneMsg* msg = doc.FindByName("n reply");
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(doc.m_msgList[0].get(), msg); // keeps its place in the document
    EXPECT_EQ(msg->m_strText, "s6f12\r\n<b 0x00>");
    EXPECT_EQ(msg->m_strComment, "line 1\r\nline 2");
    EXPECT_EQ(msg->m_nStream * 100 + msg->m_nFunction, 612);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(rows(), QStringLiteral("a|n reply|z"));
    EXPECT_EQ(list.SelectedName(), QStringLiteral("n reply"));
    EXPECT_EQ(image(1), CHMsgListView::ImageSecondary);
    EXPECT_EQ(doc.FindByName("a")->m_strText, "s1f1w\r\n<a'x'>\r\n");
}

TEST_F(MsgListCommands, InvalidNamesBringTheSheetBackUntilCancelled) {
    add("Alpha", "s1f1w");
    add("Beta", "s1f1w");
    select("Alpha");
    actions.push_back(setName(QString()));
    actions.push_back([](CMsgProperty1& p) {
        EXPECT_EQ(p.NameEdit()->text(), QString()); // the user's entry comes back
        p.NameEdit()->setText(QStringLiteral("Beta"));
        return true;
    });
    actions.push_back(setName(QStringLiteral("ALPHA")));
    cmds.OnMessageProperty();
    EXPECT_EQ(boxes, (S{QStringLiteral("You must enter valid name."),
                        QStringLiteral("'Beta' has been already registered. Specify another name.")}));
    EXPECT_EQ(sheetsShown, 3);
    EXPECT_EQ(rows(), QStringLiteral("ALPHA|Beta")) << "a case change alone is accepted";

    select("ALPHA");
    actions.push_back(setName(QStringLiteral("Beta")));
    doc.SetModifiedFlag(false);
    cmds.OnMessageProperty(); // second showing is cancelled
    EXPECT_EQ(boxes.size(), 3);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(rows(), QStringLiteral("ALPHA|Beta"));
}

TEST_F(MsgListCommands, AddNewTakesTheFirstFreeNameAndDeleteSelectsTheNextRow) {
    add("New Message #1", "s1f1w");
    add("New Message #3", "s1f1w");
    cmds.OnAddNewMessage(); // the sheet is cancelled: the definition stays
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_EQ(doc.m_msgList.back()->m_strName, "New Message #2");
    EXPECT_TRUE(doc.m_msgList.back()->m_bStructure);
    EXPECT_EQ(rows(), QStringLiteral("New Message #1|New Message #2|New Message #3"));
    EXPECT_EQ(list.SelectedName(), QStringLiteral("New Message #2"));
    EXPECT_TRUE(doc.IsModified());

    doc.SetModifiedFlag(false);
    cmds.OnDeleteMessage();
    EXPECT_EQ(rows(), QStringLiteral("New Message #1|New Message #3"));
    EXPECT_EQ(list.SelectedName(), QStringLiteral("New Message #3"));
    EXPECT_EQ(doc.FindByName("New Message #2"), nullptr);
    EXPECT_TRUE(doc.IsModified());
    cmds.OnDeleteMessage();
    EXPECT_EQ(list.SelectedName(), QStringLiteral("New Message #1")) << "the new last row";
    cmds.OnDeleteMessage();
    EXPECT_EQ(list.SelectedRow(), -1);
    EXPECT_TRUE(doc.m_msgList.empty());
    EXPECT_EQ(log.Count(), 0);
}

TEST_F(MsgListCommands, ClipboardPastesNamedCopiesAndOutlivesTheDocument) {
    add("S1F1", "s1f1w");
    add("kept", "s2f41");
    select("S1F1");
    cmds.OnEditCut();
    EXPECT_EQ(rows(), QStringLiteral("kept"));
    EXPECT_TRUE(cmds.IsEnabled(CHMsgCommands::ID_EDIT_PASTE));
    for (int i = 0; i < 3; ++i)
        cmds.OnEditPaste();
    EXPECT_EQ(rows(), QStringLiteral("kept|S1F1|S1F1 (Copy #1)|S1F1 (Copy #2)"));
    EXPECT_EQ(sheetsShown, 3);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("S1F1 (Copy #2)"));
    EXPECT_EQ(doc.FindByName("S1F1 (Copy #2)")->m_nFunction, 1); // copies carry the decoded numbers

    select("kept");
    doc.SetModifiedFlag(false);
    cmds.OnEditCopy(); // replaces the cut definition
    EXPECT_FALSE(doc.IsModified()) << "copy changes no document";
    doc.OnNewDocument();
    list.Rebuild(doc.m_msgList);
    cmds.OnEditPaste();
    EXPECT_EQ(rows(), QStringLiteral("kept"));
    EXPECT_EQ(doc.FindByName("kept")->m_nFunction, 41);
}

TEST_F(MsgListCommands, PageConvertsTheTypeKeepsCrLfAndShowsTheCodecVerdict) {
    add("dump", "0001810100000000002a", false);
    add("bad", "00 01 81 01 00 00 00 00 00", false); // 18 digits
    add("s", "s1f1w\r\n<l\r\n<a'x'>\r\n<u4 7>\r\n>\r\n");
    add("reply", "s1f2");
    for (const char* name : {"dump", "s"}) {
        select(name);
        actions.push_back([](CMsgProperty1& p) {
            p.TypeList()->setCurrentIndex(0);
            p.TypeList()->setCurrentIndex(1);
            return true;
        });
        cmds.OnMessageProperty();
    }
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_TRUE(doc.FindByName("dump")->m_bStructure);
    EXPECT_EQ(doc.FindByName("dump")->m_strText.rfind("s1f1w", 0), 0u) << doc.FindByName("dump")->m_strText;
    const std::string text = doc.FindByName("s")->m_strText;
    EXPECT_NE(text.find("<a'x'>\r\n"), std::string::npos) << text;
    for (std::size_t i = 0; i < text.size(); ++i)
        ASSERT_TRUE(text[i] != '\n' || (i > 0 && text[i - 1] == '\r')) << text;

    select("bad");
    actions.push_back([](CMsgProperty1& p) {
        p.TypeList()->setCurrentIndex(1);
        EXPECT_EQ(p.TextEdit()->toPlainText(), QStringLiteral("00 01 81 01 00 00 00 00 00"));
        return true;
    });
    cmds.OnMessageProperty();
    EXPECT_EQ(boxes, S{QStringLiteral("'Message HEX Dump' should be longer than 20 bytes.")});
    // Confirmed anyway: the text is kept under the new type.
    EXPECT_TRUE(doc.FindByName("bad")->m_bStructure);
    EXPECT_EQ(doc.FindByName("bad")->m_strText, "00 01 81 01 00 00 00 00 00");

    // The page shows the codec's verdict as the text is typed, without
    // blocking OK; the text is stored as typed and marked in the list.
    select("reply");
    QStringList verdicts;
    actions.push_back([&](CMsgProperty1& p) {
        verdicts << p.VerdictLabel()->text();
        p.TextEdit()->setPlainText(QStringLiteral("s1f2 <l <u4 abc>"));
        p.UpdateVerdict();
        verdicts << p.VerdictLabel()->text();
        return true;
    });
    cmds.OnMessageProperty();
    EXPECT_EQ(verdicts, (S{QStringLiteral("s1f2, SECS-I header, 0-byte body"),
                           QStringLiteral("SML line 1, column 13: bad or out-of-range u4 value 'abc'")}));
    EXPECT_EQ(doc.FindByName("reply")->m_strText, "s1f2 <l <u4 abc>");
    EXPECT_EQ(image(list.SelectedRow()), CHMsgListView::ImageError);
}

TEST_F(MsgListCommands, ClicksArePostedAsCommandsOnTheSelectedRow) {
    add("a", "s1f1w");
    list.resize(300, 300);
    list.show();
    QSignalSpy send(&list, &CHMsgListView::sendRequested);
    QSignalSpy prop(&list, &CHMsgListView::propertyRequested);
    const QPoint p = list.visualItemRect(list.item(0)).center(), empty(250, 250);
    ASSERT_FALSE(list.indexAt(empty).isValid());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, p);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, p);
    EXPECT_EQ(send.count(), 0); // posted, not yet run
    QCoreApplication::processEvents();
    EXPECT_EQ(send.count(), 1);
    EXPECT_EQ(prop.count(), 1);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("a"));
    // Empty space acts on the selected row, and a right click keeps it.
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, empty);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, empty);
    QCoreApplication::processEvents();
    EXPECT_EQ(prop.count(), 2);
    EXPECT_EQ(send.count(), 2);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("a"));
}

// Whatever the code page a document was written in, every byte of its names,
// comments and texts survives the list, the property page and the editing
// commands, and the saved file is the file that was opened.
TEST_F(MsgListCommands, EightBitDocumentsKeepEveryByteThroughEveryCommand) {
    const std::vector<std::array<const char*, 3>> defs = { // name, comment, text
        // Latin-1
        {"caf\xe9", "R\xe9sum\xe9 \xa9 2024\r\n", "s1f2\r\n<l\r\n<a'Gr\xfc\xdf Gott'>\r\n<a'C:\\RECIPES\\'>\r\n>\r\n"},
        // Shift-JIS: the second byte of these characters is a backslash.
        {"\x95\x5c\x8e\xa6", "\x83\x5c\x83\x74\x83\x67\r\n", "s1f2\r\n<a'\x95\x5c'>\r\n"},
        {"\x83\x5c\x83\x74\x83\x67\x95\x5c", "\x93\xfa\x96\x7b\r\n", "s1f4\r\n<l\r\n<a'\x8f\x5c'>\r\n<a'x'>\r\n>\r\n"},
        // UTF-8
        {"Gr\xc3\xbc\xc3\x9f\x65 \xe2\x9c\x93", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\r\n", "s1f2\r\n<a'\xe6\x97\xa5'>\r\n"},
        {"\xc2\xa0nbsp", "\xc2\xa0\r\n", "s2f2\r\n<a'\xc2\xa0'>\r\n"},
    };
    CHOneMsgList records;
    for (const auto& [name, comment, text] : defs) {
        records.push_back(std::make_unique<CHOneMsg>());
        records.back()->m_strName = name;
        records.back()->m_strComment = comment;
        records.back()->m_strText = text;
    }
    const std::string original = StoreMsgFile(records);
    test::ScratchDir dir;
    const QString file = QString::fromStdString((dir / "doc.tvkm").string());
    ASSERT_TRUE(test::writeFile(dir / "doc.tvkm", original));
    ASSERT_TRUE(doc.OnOpenDocument(file));
    doc.DecodeStreamFunctions(scratch);
    show();
    for (const auto& d : defs) {
        const std::string name = d[0];
        ASSERT_TRUE(select(name));
        // The row shows the name; valid UTF-8 as its characters.
        EXPECT_EQ(BytesFromText(list.SelectedName()), name);
        EXPECT_EQ(list.SelectedNameBytes(), name);
        // The page shows the definition: a renaming and back, the name typed
        // as it was shown.
        QString shown;
        actions.push_back([&](CMsgProperty1& p) {
            shown = p.NameEdit()->text();
            p.NameEdit()->setText(shown + QStringLiteral("~"));
            return true;
        });
        cmds.OnMessageProperty();
        ASSERT_TRUE(select(name + "~"));
        actions.push_back(setName(shown));
        cmds.OnMessageProperty();
        // Cut and paste moves each definition to the end in turn, so the
        // order comes back.
        ASSERT_TRUE(select(name));
        cmds.OnEditCut();
        cmds.OnEditPaste();
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(log.Count(), 0) << lastLog().toStdString();
    ASSERT_TRUE(doc.OnSaveDocument(file));
    EXPECT_EQ(test::readFile(dir / "doc.tvkm"), original);
}
