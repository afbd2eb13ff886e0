// The main form around a real engine: tab bar and panels, the message list
// following the document, and how the lists follow the window size.
#include "CHEventLog.h"
#include "CHListBoxOld.h"
#include "CHMsgCommands.h"
#include "CHMsgListView.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"
#include "CTovikarView.h"
#include "../common/qt_helpers.h"

#include <QApplication>
#include <QTabBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tovik;

namespace {

class Form : public ::testing::Test {
protected:
    QString example(const char* name) const {
        return QStringLiteral(TOVIK_DISPLAY_SOURCE_DIR "/examples/") + QString::fromLatin1(name);
    }

    QApplication& qapp = test::testApp<QApplication>();
    CTovikarDoc doc;
    CTovikarView view{doc};
    CTovikarForm form{view, doc};
};

} // namespace

TEST_F(Form, TabsSwitchThePanelsAndTheActiveTab) {
    form.show();
    EXPECT_TRUE(form.HsmsPanel()->isVisible()); // as laid out, before the protocol is applied
    form.TabBar().setCurrentIndex(0);
    EXPECT_EQ(view.GetActiveTab(), 0);
    EXPECT_TRUE(form.SecsPanel()->isVisible());
    EXPECT_FALSE(form.HsmsPanel()->isVisible());
    form.TabBar().setCurrentIndex(1);
    EXPECT_EQ(view.GetActiveTab(), 1);
    EXPECT_TRUE(form.HsmsPanel()->isVisible());
    EXPECT_FALSE(form.SecsPanel()->isVisible());

    view.ShowPortPanel(0); // the engine choosing the configured protocol's panel
    EXPECT_EQ(form.TabBar().currentIndex(), 0);
    EXPECT_TRUE(form.SecsPanel()->isVisible());
    EXPECT_EQ(form.TabBar().tabText(0), QStringLiteral("SECS"));
    EXPECT_EQ(form.TabBar().tabText(1), QStringLiteral("HSMS"));
}

TEST_F(Form, ListFollowsALoadedDocumentAndFeedsTheSendCommand) {
    ASSERT_TRUE(doc.OnOpenDocument(example("equipment.tvkm")));
    view.RefreshMessageList();
    CHMsgListView& list = form.MessageList();
    ASSERT_EQ(list.count(), static_cast<int>(doc.m_msgList.size()));
    const CHOneMsg* s1f2 = doc.FindByName("S1F2 On Line Data");
    ASSERT_NE(s1f2, nullptr);
    EXPECT_EQ(s1f2->m_nFunction, 2); // decoded by the engine before the rows were made
    EXPECT_EQ(list.MessageAt(list.RowOf(s1f2))->m_strName, s1f2->m_strName);

    // Opening another document empties the rows at once; the next refresh fills them.
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(list.count(), 0);
}

TEST_F(Form, LogGrowsRightAndDownListGrowsRightOnly) {
    form.resize(form.sizeHint());
    form.show();
    const QRect log0 = form.EventLogList().geometry();
    const QRect list0 = form.MessageList().geometry();
    const QRect panel0 = form.HsmsPanel()->geometry();
    const int margin = log0.left();
    EXPECT_EQ(log0.topLeft(), form.DialogRect(CTovikarForm::IDC_EVENT_LOG).topLeft());

    form.resize(640, 480);
    const QRect log1 = form.EventLogList().geometry();
    const QRect list1 = form.MessageList().geometry();
    EXPECT_EQ(log1.topLeft(), log0.topLeft());
    EXPECT_EQ(log1.right() + 1, 640 - margin);
    EXPECT_EQ(log1.bottom() + 1, 480 - margin);
    EXPECT_EQ(list1.topLeft(), list0.topLeft());
    EXPECT_EQ(list1.height(), list0.height());
    EXPECT_EQ(list1.right() + 1, 640 - margin);
    EXPECT_EQ(form.HsmsPanel()->geometry(), panel0);

    // Narrower than the list's left edge plus the margin: the list stays,
    // the log still follows.
    form.resize(list0.left(), 480);
    EXPECT_EQ(form.MessageList().geometry(), list1);
    EXPECT_EQ(form.EventLogList().geometry().right() + 1, list0.left() - margin);

    if (qEnvironmentVariableIsSet("TOVIK_FORM_SCREENSHOT")) {
        ASSERT_TRUE(doc.OnOpenDocument(example("equipment.tvkm")));
        view.RefreshMessageList();
        form.resize(640, 480);
        form.MessageList().SelectRow(1);
        view.ShowPortPanel(1);
        view.EventLog().AddText(QStringLiteral("2026/12/06 10:00:00\nReceived \n0001810100000000002a\ns1f1w"));
        QCoreApplication::processEvents();
        form.grab().save(qEnvironmentVariable("TOVIK_FORM_SCREENSHOT"));
    }
}

TEST_F(Form, EditingCommandsShareTheEnginesLog) {
    form.Commands().OnDeleteMessage();
    ASSERT_GT(view.EventLog().Count(), 0);
    EXPECT_EQ(view.EventLog().Line(view.EventLog().Count() - 1), QStringLiteral("No selected message."));
    QCoreApplication::processEvents();
    EXPECT_EQ(form.EventLogList().model()->rowCount(), view.EventLog().Count());
}
