// The Messages view fed by the real engine: a host of our own on raw
// sockets talks to it, and the rows, their links and origins, the filters,
// pause, the cap and the row actions are read back from the view's model,
// its widgets, QAccessible and the host's side of the wire.
#include <QApplication>

#include "../common/qt_helpers.h"
#include "engine_fixture.h"

#include "CHMessageView.h"
#include "CHScriptEngine.h"
#include "CMsgProperty1.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>

using namespace harness;
using tovik::CHJournalEntry;
using tovik::CHMessageModel;
using O = tovik::CHJournalEntry::Origin;

namespace {

struct MessageView : ::testing::Test {
    QApplication& app = tovik::test::testApp<QApplication>();
    Engine engine;
    std::unique_ptr<tovik::CHScriptEngine> script;
    std::unique_ptr<tovik::CHMessageView> view;
    RawHost host{tovik::test::pumpOnce};
    unsigned system = 0x100;

    void SetUp() override {
        Settings s;
        s.localPort = freePort();
        s.t3 = 1000;
        engine.start(s);
        view = std::make_unique<tovik::CHMessageView>(*engine.view);
        const QString js = engine.dir.filePath(QStringLiteral("reply.js"));
        writeFile(js, "tovik.on('S1F1', () => undefined);\ntovik.on('S6F*', () => '<l <l <b 0x01>> <b 0x02>>');\n");
        script = std::make_unique<tovik::CHScriptEngine>(*engine.view);
        script->Start(js);
        ASSERT_TRUE(engine.waitLine("HSMS port has been opened successfully."));
        ASSERT_TRUE(host.connect(s.localPort));
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, ++system, 1)));
        ASSERT_TRUE(host.recv().has_value());
    }
    // A primary from the host and what came back.
    std::optional<std::string> ask(unsigned streamW, unsigned function, const std::string& body = {},
                                   unsigned device = 0) {
        EXPECT_TRUE(host.send(header(device, streamW, function, ++system), body));
        return host.recv();
    }
    CHMessageModel& model() { return view->Model(); }
    const CHJournalEntry& row(int r) {
        const CHJournalEntry* e = model().EntryAt(r);
        EXPECT_NE(e, nullptr) << "row " << r;
        static const CHJournalEntry none;
        return e ? *e : none;
    }
    std::string cell(int r, int column) { return model().index(r, column).data().toString().toStdString(); }
    int rows() {
        model().CatchUp();
        return model().rowCount();
    }
};

TEST_F(MessageView, RowsSayWhatAnsweredEachPrimaryAndLinkTheTwo) {
    ASSERT_TRUE(ask(0x81, 1));        // the document's one S1F2
    ASSERT_TRUE(ask(0x82, 13));       // no S2F14: the fallback
    ASSERT_TRUE(ask(0x86, 11, "210101")); // the script
    ASSERT_TRUE(ask(0x81, 3, {}, 7)); // another device: S9F1
    ASSERT_EQ(rows(), 10);

    EXPECT_EQ(cell(0, CHMessageModel::Message), "Select.req");
    EXPECT_EQ(cell(1, CHMessageModel::Message), "Select.rsp");
    EXPECT_EQ(row(1).origin, O::Control);
    struct Want {
        int reply;
        O origin;
        std::string name; // in the reply's and the primary's Definition column
        std::string primaryName;
    };
    const Want wants[] = {{3, O::Definition, "S1F2 Data", "S1F2 Data"},
                          {5, O::Fallback, "", "<b 0> (fallback)"},
                          {7, O::Script, "", ""}};
    for (const Want& w : wants) {
        SCOPED_TRACE(w.reply);
        EXPECT_EQ(row(w.reply).origin, w.origin);
        EXPECT_EQ(row(w.reply).primaryId, row(w.reply - 1).id);
        EXPECT_EQ(row(w.reply - 1).replyId, row(w.reply).id);
        EXPECT_EQ(row(w.reply).systemBytes(), row(w.reply - 1).systemBytes());
        EXPECT_FALSE(cell(w.reply, CHMessageModel::Latency).empty());
        EXPECT_EQ(cell(w.reply, CHMessageModel::Name), w.name);
        EXPECT_EQ(cell(w.reply - 1, CHMessageModel::Name), w.primaryName);
    }
    EXPECT_EQ(cell(6, CHMessageModel::Message), "S6F11 W");
    // A script's reply names its file and handler once, as its origin.
    EXPECT_EQ(cell(7, CHMessageModel::Origin), "script reply.js S6F*");
    EXPECT_TRUE(model().index(6, 0).data(Qt::ToolTipRole).toString().endsWith(QLatin1String("(script reply.js S6F*)")));
    EXPECT_EQ(row(9).origin, O::S9);
    EXPECT_EQ(cell(9, CHMessageModel::Message), "S9F1");
    EXPECT_EQ(row(9).primaryId, 0u);

    // Selecting a reply marks its primary, in colour and in its description.
    view->show();
    view->SelectRow(5);
    EXPECT_EQ(model().LinkedId(), row(4).id);
    EXPECT_TRUE(model().index(4, 0).data(Qt::AccessibleDescriptionRole).toString().contains(QLatin1String("linked")));

    // What a screen reader reads: the direction and the fallback mark as words.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&view->Table());
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    auto read = [&](int r, int c, QAccessible::Text t) {
        return table->tableInterface()->cellAt(r, c)->text(t).toStdString();
    };
    EXPECT_EQ(read(4, CHMessageModel::Direction, QAccessible::Name), "received");
    EXPECT_EQ(read(5, CHMessageModel::Direction, QAccessible::Name), "sent");
    EXPECT_EQ(read(5, CHMessageModel::Origin, QAccessible::Name), "fallback <b 0>");
    EXPECT_NE(read(5, CHMessageModel::Time, QAccessible::Description)
                  .find("fallback reply <b 0>: the document has no definition of S2F14"),
              std::string::npos);

    // The selected row's tree, its texts and what produced it.
    view->SelectRow(3);
    QTreeWidget& tree = view->Tree();
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    const QTreeWidgetItem* list = tree.topLevelItem(0);
    EXPECT_EQ(list->text(0).toStdString(), "L");
    EXPECT_EQ(list->text(1).toStdString(), "2");
    ASSERT_EQ(list->childCount(), 2);
    EXPECT_EQ(list->child(0)->text(0).toStdString(), "A");
    EXPECT_EQ(list->child(0)->text(2).toStdString(), "'EQ'");
    EXPECT_TRUE(view->OriginLabel().text().contains(QLatin1String("S1F2 Data")));
    EXPECT_TRUE(view->SmlHexText().toPlainText().contains(QString::fromStdString(kS1F2Body)));
    view->SelectRow(7);
    const QTreeWidgetItem* nested = tree.topLevelItem(0);
    ASSERT_EQ(nested->childCount(), 2);
    const QTreeWidgetItem* inner = nested->child(0);
    ASSERT_TRUE(inner && inner->child(0));
    EXPECT_EQ(inner->child(0)->text(2).toStdString(), "0x01");
    EXPECT_EQ(nested->child(1)->text(2).toStdString(), "0x02");
}

TEST_F(MessageView, FiltersPauseAndTheCap) {
    ASSERT_TRUE(ask(0x81, 1));
    ASSERT_TRUE(ask(0x82, 13));
    ASSERT_EQ(rows(), 6);
    auto filtered = [&](auto set) {
        set();
        return view->Model().rowCount();
    };
    EXPECT_EQ(filtered([&] { view->PatternEdit().setText(QStringLiteral("s1f*")); }), 2);
    EXPECT_EQ(filtered([&] { view->DirectionList().setCurrentIndex(2); }), 1); // sent
    EXPECT_EQ(cell(0, CHMessageModel::Message), "S1F2");
    EXPECT_EQ(view->CountLabel().text().toStdString(), "1 of 6 messages");
    EXPECT_EQ(filtered([&] { view->PatternEdit().setText(QStringLiteral("S1F")); }), 0); // no pattern
    EXPECT_FALSE(view->Model().PatternValid());
    EXPECT_EQ(filtered([&] {
                  view->PatternEdit().clear();
                  view->DirectionList().setCurrentIndex(0);
                  view->TextEdit().setText(QStringLiteral("'eq'"));
              }),
              1);
    EXPECT_EQ(filtered([&] {
                  view->TextEdit().clear();
                  view->HostEdit().setText(QStringLiteral("HSMS 127.0.0.1:") + QString::number(host.localPort()));
              }),
              6);
    EXPECT_EQ(filtered([&] { view->HostEdit().setText(QStringLiteral("10.9.9.9")); }), 0);
    view->HostEdit().clear();

    // Paused, the rows stay; the messages are still recorded; Resume catches up.
    view->Table().setFocus();
    QTest::keyClick(&view->Table(), Qt::Key_Space);
    ASSERT_TRUE(view->PauseButton().isChecked());
    ASSERT_TRUE(ask(0x81, 1));
    EXPECT_EQ(rows(), 6);
    EXPECT_EQ(engine.view->Journal().Size(), 8u);
    EXPECT_EQ(filtered([&] { view->PatternEdit().setText(QStringLiteral("*")); }), 6);
    view->PauseButton().click();
    EXPECT_EQ(rows(), 8);

    // The cap drops the oldest rows first.
    engine.view->Journal().SetCap(3);
    ASSERT_TRUE(ask(0x82, 13));
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(cell(0, CHMessageModel::Message), "S1F2");
    EXPECT_EQ(cell(2, CHMessageModel::Message), "S2F14");
    EXPECT_EQ(view->FilteredEntries().front()->id, engine.view->Journal().FirstId());
}

TEST_F(MessageView, RowActionsGoThroughTheSendPipeline) {
    ASSERT_TRUE(ask(0x81, 1));
    ASSERT_EQ(rows(), 4);

    // Resend: a new primary with new system bytes, logged, ended by T3 with S9F9.
    engine.log.clear();
    const quint64 sent = view->Resend(row(2));
    ASSERT_NE(sent, 0u);
    const auto resent = recvPumping(host);
    ASSERT_TRUE(resent);
    EXPECT_EQ(resent->substr(4, 4), "8101");
    EXPECT_NE(resent->substr(12, 8), header(0, 0x81, 1, system).substr(12, 8));
    EXPECT_EQ(engine.view->Journal().Entry(sent)->origin, O::User);
    const auto s9 = recvPumping(host, 4000);
    ASSERT_TRUE(s9);
    EXPECT_EQ(s9->substr(4, 4), "0909");
    auto logged = [&](const std::string& start) {
        return std::any_of(engine.log.begin(), engine.log.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(logged("Send"));
    EXPECT_TRUE(logged("T3 time out"));

    // Edit and Send: the property page with the message's SML; what it sends.
    tovik::CMsgPropertySheet::Runner before = tovik::CMsgPropertySheet::SetRunner([](tovik::CMsgPropertySheet& sheet) {
        EXPECT_EQ(sheet.Page().NameEdit()->text().toStdString(), "S1F2");
        EXPECT_TRUE(sheet.Page().TextEdit()->toPlainText().contains(QLatin1String("'EQ'")));
        sheet.Page().TextEdit()->setPlainText(QStringLiteral("s1f2\n<a 'EDITED'>"));
        return true;
    });
    ASSERT_NE(view->EditAndSend(row(3)), 0u);
    tovik::CMsgPropertySheet::SetRunner(before);
    const auto edited = recvPumping(host);
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->substr(4, 4), "0102");
    EXPECT_EQ(edited->substr(20), "4106" + hexOf(Bytes{'E', 'D', 'I', 'T', 'E', 'D'}));

    // Save as Definition: named by S,F and a number, the document modified.
    tovik::CTovikarDoc& doc = *engine.doc;
    ASSERT_FALSE(doc.IsModified());
    EXPECT_EQ(view->SaveAsDefinition(row(3)).toStdString(), "S1F2 #1");
    EXPECT_EQ(view->SaveAsDefinition(row(3)).toStdString(), "S1F2 #2");
    EXPECT_TRUE(doc.IsModified());
    const tovik::CHOneMsg* saved = doc.FindByName("S1F2 #2");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->m_nStream, 1);
    EXPECT_EQ(saved->m_nFunction, 2);

    view->CopyAsHex(row(3));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith(QString::fromLatin1(kS1F2Body)));
}

} // namespace
