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
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>

using namespace tovik;

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
        CHOneMsg* raw = m.get();
        doc.AddMessage(std::move(m));
        return raw;
    }
    void show() { list.Rebuild(doc.m_msgList); }
    QStringList rows() const {
        QStringList r;
        for (int i = 0; i < list.count(); ++i)
            r << list.item(i)->text();
        return r;
    }
    void select(const QString& name) {
        const auto found = list.findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        list.SelectRow(list.row(found.front()));
    }
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

TEST_F(MsgListCommands, RowsAreSortedByNameAndCarryTheirRecord) {
    CHOneMsg* b = add("b", "s1f1w");
    add("a", "s1f2");
    add("C", "s1f3");
    show();
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("C")}));
    EXPECT_EQ(list.MessageAt(1), b);
    CHOneMsg* ab = add("ab", "s1f1");
    EXPECT_EQ(list.InsertMessageItem(ab), 1);
}

TEST_F(MsgListCommands, ImagesFollowStreamAndFunction) {
    add("primary", "s1f1w");
    add("secondary", "s1f2");
    add("control", "ffff0000000100000000", false);
    add("undecodable", "this is no sml");
    show();
    auto image = [this](const char* name) {
        return list.findItems(QString::fromLatin1(name), Qt::MatchExactly).front()->data(CHMsgListView::kImageRole).toInt();
    };
    EXPECT_EQ(image("primary"), CHMsgListView::ImagePrimary);
    EXPECT_EQ(image("secondary"), CHMsgListView::ImageSecondary);
    EXPECT_EQ(image("control"), CHMsgListView::ImageStream0);
    // A text that does not load is marked, and its row says why.
    EXPECT_EQ(image("undecodable"), CHMsgListView::ImageError);
    EXPECT_EQ(list.findItems(QStringLiteral("undecodable"), Qt::MatchExactly).front()->toolTip(),
              QStringLiteral("SML line 1, column 1: expected a stream and function (s1f1) or an item"));
    EXPECT_TRUE(list.findItems(QStringLiteral("primary"), Qt::MatchExactly).front()->toolTip().isEmpty());
    for (int i = 0; i < 4; ++i) {
        const QIcon icon = CHMsgListView::IconFor(static_cast<CHMsgListView::Image>(i));
        EXPECT_FALSE(icon.pixmap(QSize(16, 16), 1.0).toImage().isNull());
        EXPECT_EQ(icon.pixmap(QSize(16, 16), 2.0).toImage().size(), QSize(32, 32)); // drawn for 2x, not scaled
    }
}

TEST_F(MsgListCommands, CommandsWithoutASelectionOnlyLog) {
    add("a", "s1f1w");
    show();
    for (void (CHMsgCommands::*cmd)() : {&CHMsgCommands::OnMessageProperty, &CHMsgCommands::OnDeleteMessage,
                                         &CHMsgCommands::OnEditCut, &CHMsgCommands::OnEditCopy}) {
        log.AddText(QString());
        (cmds.*cmd)();
        EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("No selected message.")});
    }
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(cmds.ClipMessage(), nullptr);
    EXPECT_FALSE(cmds.IsEnabled(CHMsgCommands::ID_DELETE_MESSAGE));
    EXPECT_FALSE(cmds.IsEnabled(CHMsgCommands::ID_EDIT_PASTE));
    EXPECT_TRUE(cmds.IsEnabled(CHMsgCommands::ID_ADD_NEW_MESSAGE));
}

TEST_F(MsgListCommands, ARowWhoseDefinitionIsGoneIsReported) {
    add("ghost", "s1f1w");
    show();
    doc.RemoveByName("ghost");
    select(QStringLiteral("ghost"));
    cmds.OnMessageProperty();
    EXPECT_EQ(lastLog(), QStringLiteral("Cannot find specified message 'ghost'."));
    cmds.OnDeleteMessage();
    EXPECT_EQ(lastLog(), QStringLiteral("Cannot delete specified message 'ghost'."));
    cmds.OnEditCut();
    EXPECT_EQ(lastLog(), QStringLiteral("Cannot delete specified message 'ghost'."));
    EXPECT_EQ(sheetsShown, 0);
}

TEST_F(MsgListCommands, ConfirmingAnUntouchedSheetChangesNothing) {
    add("a", "s1f1w\r\n<a'x'>\r\n");
    show();
    select(QStringLiteral("a"));
    actions.push_back([](CMsgProperty1&) { return true; });
    cmds.OnMessageProperty();
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.FindByName("a")->m_strText, "s1f1w\r\n<a'x'>\r\n");
}

TEST_F(MsgListCommands, PropertyEditStoresDecodesAndResortsTheRow) {
    add("a", "s1f1w");
    add("m", "s1f2");
    show();
    select(QStringLiteral("a"));
    actions.push_back([](CMsgProperty1& p) {
        p.NameEdit()->setText(QStringLiteral("z reply"));
        p.TextEdit()->setPlainText(QStringLiteral("s6f12\n<b 0x00>"));
        p.CommentEdit()->setPlainText(QStringLiteral("line 1\nline 2"));
        return true;
    });
    cmds.OnMessageProperty();
    const CHOneMsg* msg = doc.FindByName("z reply");
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->m_strText, "s6f12\r\n<b 0x00>");
    EXPECT_EQ(msg->m_strComment, "line 1\r\nline 2");
    EXPECT_EQ(msg->m_nStream, 6);
    EXPECT_EQ(msg->m_nFunction, 12);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("m"), QStringLiteral("z reply")}));
    EXPECT_EQ(list.SelectedName(), QStringLiteral("z reply"));
    EXPECT_EQ(list.item(1)->data(CHMsgListView::kImageRole).toInt(), CHMsgListView::ImageSecondary);
    EXPECT_EQ(doc.m_msgList.front().get(), msg); // keeps its place in the document
}

TEST_F(MsgListCommands, InvalidNamesBringTheSheetBackUntilCancelled) {
    add("Alpha", "s1f1w");
    add("Beta", "s1f1w");
    show();
    select(QStringLiteral("Alpha"));
    actions.push_back(setName(QString()));
    actions.push_back([](CMsgProperty1& p) {
        EXPECT_EQ(p.NameEdit()->text(), QString()); // the user's entry comes back
        p.NameEdit()->setText(QStringLiteral("Beta"));
        return true;
    });
    actions.push_back(setName(QStringLiteral("ALPHA")));
    cmds.OnMessageProperty();
    EXPECT_EQ(boxes, (QStringList{QStringLiteral("You must enter valid name."),
                                  QStringLiteral("'Beta' has been already registered. Specify another name.")}));
    EXPECT_EQ(sheetsShown, 3);
    EXPECT_NE(doc.FindByName("ALPHA"), nullptr); // a case change alone is accepted
    EXPECT_EQ(doc.FindByName("Alpha"), nullptr);

    boxes.clear();
    select(QStringLiteral("ALPHA"));
    actions.push_back(setName(QStringLiteral("Beta")));
    doc.SetModifiedFlag(false);
    cmds.OnMessageProperty(); // second showing is cancelled
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_NE(doc.FindByName("ALPHA"), nullptr);
}

TEST_F(MsgListCommands, AddNewTakesTheFirstFreeNameAndStaysWhenCancelled) {
    add("New Message #1", "s1f1w");
    add("New Message #3", "s1f1w");
    show();
    cmds.OnAddNewMessage(); // the sheet is cancelled
    EXPECT_EQ(sheetsShown, 1);
    const CHOneMsg* msg = doc.FindByName("New Message #2");
    ASSERT_NE(msg, nullptr);
    EXPECT_TRUE(msg->m_bStructure);
    EXPECT_EQ(msg->m_nStream, 0);
    EXPECT_EQ(doc.m_msgList.back().get(), msg);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("New Message #2"));
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(MsgListCommands, DeleteSelectsTheNextRowOrTheNewLast) {
    add("a", "s1f1w");
    add("b", "s1f1w");
    add("c", "s1f1w");
    show();
    select(QStringLiteral("b"));
    cmds.OnDeleteMessage();
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    EXPECT_EQ(list.SelectedName(), QStringLiteral("c"));
    EXPECT_EQ(doc.FindByName("b"), nullptr);
    EXPECT_TRUE(doc.IsModified());
    cmds.OnDeleteMessage();
    EXPECT_EQ(list.SelectedName(), QStringLiteral("a"));
    cmds.OnDeleteMessage();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.SelectedRow(), -1);
    EXPECT_TRUE(doc.m_msgList.empty());
    EXPECT_EQ(log.Count(), 0);
}

TEST_F(MsgListCommands, CutThenPastesNameTheCopies) {
    add("S1F1", "s1f1w");
    show();
    select(QStringLiteral("S1F1"));
    cmds.OnEditCut();
    EXPECT_TRUE(doc.m_msgList.empty());
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(cmds.IsEnabled(CHMsgCommands::ID_EDIT_PASTE));
    cmds.OnEditPaste();
    cmds.OnEditPaste();
    cmds.OnEditPaste();
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("S1F1"), QStringLiteral("S1F1 (Copy #1)"),
                                   QStringLiteral("S1F1 (Copy #2)")}));
    EXPECT_EQ(sheetsShown, 3);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("S1F1 (Copy #2)"));
    // Copies carry the decoded numbers with them.
    EXPECT_EQ(doc.FindByName("S1F1 (Copy #2)")->m_nFunction, 1);
    ASSERT_NE(cmds.ClipMessage(), nullptr);
    EXPECT_EQ(cmds.ClipMessage()->m_strName, "S1F1");
}

TEST_F(MsgListCommands, CopyAfterCutLosesTheCutDefinition) {
    add("gone", "s1f1w");
    add("kept", "s1f2");
    show();
    select(QStringLiteral("gone"));
    cmds.OnEditCut();
    doc.SetModifiedFlag(false);
    select(QStringLiteral("kept"));
    cmds.OnEditCopy();
    EXPECT_FALSE(doc.IsModified()); // copy changes no document
    cmds.OnEditPaste();
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("kept"), QStringLiteral("kept (Copy #1)")}));
    EXPECT_EQ(doc.FindByName("gone"), nullptr);
}

TEST_F(MsgListCommands, ClipboardOutlivesANewDocument) {
    add("keep me", "s2f41");
    show();
    select(QStringLiteral("keep me"));
    cmds.OnEditCopy();
    doc.OnNewDocument();
    list.Rebuild(doc.m_msgList);
    cmds.OnEditPaste();
    ASSERT_NE(doc.FindByName("keep me"), nullptr);
    EXPECT_EQ(doc.FindByName("keep me")->m_nFunction, 41);
}

TEST_F(MsgListCommands, TypeChangeConvertsOrRefusesABadDump) {
    add("dump", "0001810100000000002a", false);
    add("bad", "00 01 81 01 00 00 00 00 00", false); // 18 digits
    show();
    select(QStringLiteral("dump"));
    actions.push_back([](CMsgProperty1& p) {
        p.TypeList()->setCurrentIndex(1);
        EXPECT_TRUE(p.TextEdit()->toPlainText().startsWith(QStringLiteral("s1f1w")));
        return true;
    });
    cmds.OnMessageProperty();
    EXPECT_TRUE(doc.FindByName("dump")->m_bStructure);
    EXPECT_TRUE(boxes.isEmpty());

    select(QStringLiteral("bad"));
    actions.push_back([](CMsgProperty1& p) {
        p.TypeList()->setCurrentIndex(1);
        EXPECT_EQ(p.TextEdit()->toPlainText(), QStringLiteral("00 01 81 01 00 00 00 00 00"));
        EXPECT_EQ(p.TypeList()->currentIndex(), 1);
        return true;
    });
    cmds.OnMessageProperty();
    EXPECT_EQ(boxes, QStringList{QStringLiteral("'Message HEX Dump' should be longer than 20 bytes.")});
    // Confirmed anyway: the text is kept under the new type.
    const CHOneMsg* bad = doc.FindByName("bad");
    EXPECT_TRUE(bad->m_bStructure);
    EXPECT_EQ(bad->m_strText, "00 01 81 01 00 00 00 00 00");
}

TEST_F(MsgListCommands, ClicksArePostedAsCommands) {
    add("a", "s1f1w");
    show();
    list.resize(200, 200);
    list.show();
    QSignalSpy send(&list, &CHMsgListView::sendRequested);
    QSignalSpy prop(&list, &CHMsgListView::propertyRequested);
    const QPoint p = list.visualItemRect(list.item(0)).center();
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, p);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, p);
    EXPECT_EQ(send.count(), 0); // posted, not yet run
    QCoreApplication::processEvents();
    EXPECT_EQ(send.count(), 1);
    EXPECT_EQ(prop.count(), 1);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("a"));
}

TEST_F(MsgListCommands, ClicksOnEmptySpaceActOnTheSelectedRow) {
    add("a", "s1f1w");
    show();
    list.resize(300, 300);
    list.show();
    QSignalSpy send(&list, &CHMsgListView::sendRequested);
    QSignalSpy prop(&list, &CHMsgListView::propertyRequested);
    list.SelectRow(0);
    const QPoint empty(250, 250);
    ASSERT_FALSE(list.indexAt(empty).isValid());
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, empty);
    QCoreApplication::processEvents();
    EXPECT_EQ(prop.count(), 1);
    EXPECT_EQ(list.SelectedName(), QStringLiteral("a")); // the right click kept it
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, empty);
    QCoreApplication::processEvents();
    EXPECT_EQ(send.count(), 1);
}

// Whatever the code page a document was written in, every byte of its names,
// comments and texts survives the list, the property page and the editing
// commands, and the saved file is the file that was opened.
TEST_F(MsgListCommands, EightBitDocumentsKeepEveryByteThroughEveryCommand) {
    struct Def {
        std::string name, comment, text;
        bool structure = true;
    };
    const std::vector<std::vector<Def>> documents = {
        // Latin-1
        {{"caf\xe9", "R\xe9sum\xe9 \xa9 2024\r\n", "s1f2\r\n<l\r\n<a'Gr\xfc\xdf Gott'>\r\n<a'C:\\RECIPES\\'>\r\n>\r\n"},
         {"na\xefve", "", "s6f11w\r\n<a'\xe0 la carte'>\r\n"},
         {"d\xfcmp", "Hex \xb5s\r\n", "0001860b000000000001", false}},
        // Shift-JIS: the second byte of 表 and ソ is a backslash.
        {{"\x95\x5c\x8e\xa6", "\x83\x5c\x83\x74\x83\x67\r\n", "s1f2\r\n<a'\x95\x5c'>\r\n"},
         {"\x83\x5c\x83\x74\x83\x67\x95\x5c", "\x93\xfa\x96\x7b\r\n", "s1f4\r\n<l\r\n<a'\x8f\x5c'>\r\n<a'x'>\r\n>\r\n"}},
        // UTF-8
        {{"Gr\xc3\xbc\xc3\x9f\x65 \xe2\x9c\x93", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\r\n",
          "s1f2\r\n<a'\xe6\x97\xa5\xe6\x9c\xac'>\r\n"},
         {"\xc2\xa0nbsp", "\xc2\xa0\r\n", "s2f2\r\n<a'\xc2\xa0'>\r\n"}},
    };
    for (const auto& defs : documents) {
        CHOneMsgList records;
        for (const Def& d : defs) {
            auto m = std::make_unique<CHOneMsg>();
            m->m_strName = d.name;
            m->m_strComment = d.comment;
            m->m_strText = d.text;
            m->m_bStructure = d.structure;
            records.push_back(std::move(m));
        }
        const std::string original = StoreMsgFile(records);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("doc.tvkm"));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(original.data(), static_cast<qint64>(original.size()));
        }
        ASSERT_TRUE(doc.OnOpenDocument(file));
        ASSERT_TRUE(boxes.isEmpty()) << boxes.join(QLatin1Char('|')).toStdString();
        doc.DecodeStreamFunctions(scratch);
        show();
        for (const auto& m : doc.m_msgList)
            EXPECT_EQ(m->m_strLoadError, "") << m->m_strName;
        const int logLines = log.Count();

        auto selectByName = [this](const std::string& name) {
            for (int r = 0; r < list.count(); ++r)
                if (list.MessageAt(r)->m_strName == name)
                    return list.SelectRow(r), true;
            return false;
        };
        for (const Def& d : defs) {
            ASSERT_TRUE(selectByName(d.name));
            // The row shows the name; valid UTF-8 as its characters.
            EXPECT_EQ(BytesFromText(list.SelectedName()), d.name);
            EXPECT_EQ(list.SelectedNameBytes(), d.name);
            // The page shows the definition; an edit of another field and
            // OK, then the name typed back as it was shown.
            QString shown;
            actions.push_back([&](CMsgProperty1& p) {
                shown = p.NameEdit()->text();
                p.NameEdit()->setText(shown + QStringLiteral("~"));
                return true;
            });
            cmds.OnMessageProperty();
            ASSERT_TRUE(selectByName(d.name + "~"));
            actions.push_back([&](CMsgProperty1& p) {
                p.NameEdit()->setText(shown);
                return true;
            });
            cmds.OnMessageProperty();
            const CHOneMsg* back = doc.FindByName(d.name);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(back->m_strComment, d.comment);
            EXPECT_EQ(back->m_strText, d.text);

            // Copy and paste a copy, then delete the copy.
            ASSERT_TRUE(selectByName(d.name));
            cmds.OnEditCopy();
            cmds.OnEditPaste(); // its sheet is cancelled
            ASSERT_TRUE(selectByName(d.name + " (Copy #1)"));
            cmds.OnDeleteMessage();
            // Cut and paste: it goes to the end of the document, as each of
            // them does in turn, so the order comes back.
            ASSERT_TRUE(selectByName(d.name));
            cmds.OnEditCut();
            cmds.OnEditPaste();
        }
        EXPECT_EQ(log.Count(), logLines) << lastLog().toStdString();
        ASSERT_TRUE(doc.OnSaveDocument(file));
        QFile saved(file);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll().toStdString(), original) << defs.front().name;
        boxes.clear();
    }
}

TEST_F(MsgListCommands, LogLinesQuoteANameAsItsBytes) {
    add("caf\xe9", "s1f1w");
    show();
    list.SelectRow(0);
    doc.RemoveByName("caf\xe9");
    cmds.OnDeleteMessage();
    EXPECT_EQ(BytesFromText(lastLog()), "Cannot delete specified message 'caf\xe9'.");
}

TEST_F(MsgListCommands, TypeChangeKeepsCrLfLineEnds) {
    add("s", "s1f1w\r\n<l\r\n<a'x'>\r\n<u4 7>\r\n>\r\n");
    show();
    select(QStringLiteral("s"));
    actions.push_back([](CMsgProperty1& p) {
        p.TypeList()->setCurrentIndex(0);
        p.TypeList()->setCurrentIndex(1);
        return true;
    });
    cmds.OnMessageProperty();
    const std::string text = doc.FindByName("s")->m_strText;
    EXPECT_NE(text.find("<a'x'>\r\n"), std::string::npos) << text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << text;
        }
    }
}

TEST_F(MsgListCommands, PageShowsTheCodecVerdictWithoutBlockingOk) {
    add("reply", "s1f2");
    show();
    select(QStringLiteral("reply"));
    QStringList verdicts;
    actions.push_back([&](CMsgProperty1& p) {
        verdicts << p.VerdictLabel()->text();
        p.TextEdit()->setPlainText(QStringLiteral("s1f2 <l <u4 abc>"));
        p.UpdateVerdict();
        verdicts << p.VerdictLabel()->text();
        p.TypeList()->setCurrentIndex(0); // a dump that is too short
        p.TextEdit()->setPlainText(QStringLiteral("00 01"));
        p.UpdateVerdict();
        verdicts << p.VerdictLabel()->text();
        p.TypeList()->setCurrentIndex(1);
        p.TextEdit()->setPlainText(QStringLiteral("s1f2 <l <u4 abc>"));
        p.UpdateVerdict();
        return true;
    });
    cmds.OnMessageProperty();
    EXPECT_EQ(verdicts, (QStringList{QStringLiteral("s1f2, SECS-I header, 0-byte body"),
                                     QStringLiteral("SML line 1, column 13: bad or out-of-range u4 value 'abc'"),
                                     QStringLiteral("'Message HEX Dump' should be longer than 20 bytes.")}));
    // Stored as typed, and marked in the list.
    const CHOneMsg* reply = doc.FindByName("reply");
    EXPECT_EQ(reply->m_strText, "s1f2 <l <u4 abc>");
    EXPECT_EQ(list.item(list.SelectedRow())->data(CHMsgListView::kImageRole).toInt(), CHMsgListView::ImageError);
}
