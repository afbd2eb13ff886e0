// The main window on the offscreen platform: what survives a restart (the
// window rectangle, the bars, the recent-file menu), the save question at
// close, dropped documents, the command states, the status panes, the splash.
#include "shell_fixture.h"

#include "CHDocCommands.h"
#include "CHEventLog.h"
#include "CHKeyIndicators.h"
#include "CHMsgListView.h"
#include "CHWindowPlacement.h"
#include "CMainFrame.h"
#include "CSplashWnd.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"
#include "CTovikarView.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

namespace tovik::test {
namespace {

class Frame : public ShellFixture {
protected:
    QRect screen() const { return QGuiApplication::primaryScreen()->geometry(); }
    // A rectangle well inside the screen and unlike the default placement.
    QRect inside() const { return QRect(screen().left() + 30, screen().top() + 40, 500, 360); }
};

TEST_F(Frame, WindowBarsAndRecentFilesSurviveARestart) {
    writeLine();
    const QString other = path("other.tvkm");
    write(other, kDocument);
    const QRect wanted = inside();
    {
        auto app = start(doc(), true);
        app->Frame()->setGeometry(wanted);
        app->Frame()->Execute(CMainFrame::ID_VIEW_TOOLBAR);
        app->Frame()->Execute(CMainFrame::ID_VIEW_STATUS_BAR);
        ASSERT_TRUE(app->Frame()->Documents().OpenFile(other));
        ASSERT_TRUE(app->Frame()->close());
    }
    const QByteArray text = read(ini());
    EXPECT_TRUE(text.contains("WindowLeft=" + QByteArray::number(wanted.left())));
    EXPECT_TRUE(text.contains("WindowBottom=" + QByteArray::number(wanted.top() + wanted.height())));

    auto again = start(doc(), true);
    CMainFrame& f = *again->Frame();
    EXPECT_EQ(f.geometry(), wanted);
    EXPECT_TRUE(f.ToolBar()->isHidden());
    EXPECT_TRUE(f.statusBar()->isHidden());
    f.UpdateCommandStates();
    EXPECT_FALSE(f.Action(CMainFrame::ID_VIEW_TOOLBAR)->isChecked());
    // The start-up's own document joins the menu at the top.
    QAction* second = f.Action(CMainFrame::ID_FILE_MRU_FILE1 + 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->text(), QStringLiteral("&2 ") + other);
    EXPECT_TRUE(f.FileMenu()->actions().contains(second));
    second->trigger();
    EXPECT_EQ(again->Doc().GetPathName(), other);
    EXPECT_EQ(f.Action(CMainFrame::ID_FILE_MRU_FILE1)->text(), QStringLiteral("&1 ") + other);
}

TEST_F(Frame, SaveWindowPositionOffKeepsTheInitialSizeButStillWritesTheRectangle) {
    const QRect saved = inside();
    writeLine("SaveWindowPosition=0\nWindowLeft=" + QByteArray::number(saved.left()) +
              "\nWindowTop=" + QByteArray::number(saved.top()) +
              "\nWindowRight=" + QByteArray::number(saved.left() + saved.width()) +
              "\nWindowBottom=" + QByteArray::number(saved.top() + saved.height()) + "\n");
    auto app = start(doc(), true);
    EXPECT_EQ(app->Frame()->size(), QSize(640, 480));
    app->Frame()->setGeometry(QRect(inside().topLeft(), QSize(420, 300)));
    ASSERT_TRUE(app->Frame()->close());
    EXPECT_TRUE(read(ini()).contains("WindowRight=" + QByteArray::number(inside().left() + 420)));
}

TEST(WindowPlacement, WhatCountsAsOnAScreen) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    EXPECT_TRUE(RestorableRect({100, 100, 740, 580}, screens).has_value());
    // Across the seam of two screens, and on the second one.
    EXPECT_TRUE(RestorableRect({1800, 100, 2400, 500}, screens).has_value());
    // Only a sliver shows: the title cannot be reached.
    EXPECT_FALSE(RestorableRect({1910 + 1280, 100, 4000, 500}, screens).has_value());
    EXPECT_FALSE(RestorableRect({-700, -500, -10, -10}, screens).has_value());
    // Never written, inverted, or absurd values from a hand-edited file.
    EXPECT_FALSE(RestorableRect({-1, -1, -1, -1}, screens).has_value());
    EXPECT_FALSE(RestorableRect({500, 500, 100, 100}, screens).has_value());
    EXPECT_FALSE(RestorableRect({-2147483647 - 1, 0, 2147483647, 500}, screens).has_value());
    // A window left partly above the first screen but with its corner reachable.
    EXPECT_TRUE(RestorableRect({100, -20, 700, 400}, screens).has_value());
}

// The window's own part of the document commands: the drop and the question
// at close; the commands themselves are tested without a window.
TEST_F(Frame, DropOpensAndCloseAsksAboutChanges) {
    writeLine();
    write(path("other.tvkm"), "'Dropped'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("line.tvkm - Tovik"));
    QMimeData text;
    text.setUrls({QUrl::fromLocalFile(path("notes.txt"))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &refused);
    EXPECT_FALSE(refused.isAccepted());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("notes.txt")), QUrl::fromLocalFile(path("other.tvkm"))});
    QDragEnterEvent offer(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &offer);
    ASSERT_TRUE(offer.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &drop);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("other.tvkm - Tovik"));
    EXPECT_NE(app->Doc().FindByName("Dropped"), nullptr);

    QStringList asked;
    CHDocPrompts::Answer answer = CHDocPrompts::Answer::Cancel;
    f.Documents().SetPrompts({[&](const QString& question) {
                                  asked.append(question);
                                  return answer;
                              },
                              [](bool, const QString&) { return QString(); }});
    app->Doc().SetModifiedFlag(true);
    EXPECT_FALSE(f.close());
    EXPECT_EQ(asked, QStringList{QStringLiteral("Save changes to ") + path("other.tvkm") + QStringLiteral("?")});
    answer = CHDocPrompts::Answer::No;
    EXPECT_TRUE(f.close());
    EXPECT_TRUE(read(ini()).contains("WindowRight="));
}

TEST_F(Frame, CommandStatesFollowTheEngine) {
    writeLine();
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    ASSERT_TRUE(app->View().GetConnected());
    // Set when the engine reported the change, not by a call of ours.
    EXPECT_TRUE(f.Action(CMainFrame::ID_CONNECT)->isChecked());
    EXPECT_FALSE(f.Action(CMainFrame::ID_OPTION)->isEnabled());
    EXPECT_TRUE(f.Action(CMainFrame::ID_SEND_MESSAGE)->isEnabled());
    EXPECT_TRUE(f.Action(CMainFrame::ID_DISCONNECT)->isEnabled()); // Server=1
    EXPECT_FALSE(f.Action(CMainFrame::ID_EDIT_PASTE)->isEnabled());
    EXPECT_FALSE(f.Action(CMainFrame::ID_RECORD)->isEnabled());
    EXPECT_FALSE(f.Action(CMainFrame::ID_EDIT_UNDO)->isEnabled());

    // The Connect button switches the ports off; the check follows the engine.
    EXPECT_TRUE(f.Execute(CMainFrame::ID_CONNECT));
    EXPECT_FALSE(app->View().GetConnected());
    EXPECT_FALSE(f.Action(CMainFrame::ID_CONNECT)->isChecked());
    EXPECT_TRUE(f.Action(CMainFrame::ID_OPTION)->isEnabled());
    EXPECT_FALSE(f.Execute(CMainFrame::ID_SEND_MESSAGE));

    // Copy of the selected row makes Paste available.
    f.Form().MessageList().SelectRow(0);
    EXPECT_TRUE(f.Execute(CMainFrame::ID_EDIT_COPY));
    EXPECT_TRUE(f.Action(CMainFrame::ID_EDIT_PASTE)->isEnabled());
}

// The lock-key panes show while a lock is on and follow the next key.
TEST_F(Frame, StatusBarPanesFollowTheLockKeys) {
    CHLockKeys keys;
    const CHKeyIndicators::Reader old = CHKeyIndicators::SetReader([&keys] { return keys; });
    writeLine();
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    f.activateWindow();
    EXPECT_FALSE(f.PaneText(CMainFrame::ID_INDICATOR_TIME).isEmpty());
    const auto shown = [&f] {
        QStringList texts;
        for (const char* name : {"CAP", "NUM", "SCRL"})
            texts << f.statusBar()->findChild<QLabel*>(QLatin1String(name))->text();
        return texts.join(QLatin1Char(','));
    };
    EXPECT_EQ(shown(), QStringLiteral(",,"));
    keys.caps = true;
    keys.scroll = true;
    QTest::keyClick(f.windowHandle(), Qt::Key_CapsLock);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringLiteral("CAP,,SCRL"));
    keys = {false, true, false};
    QTest::keyClick(f.windowHandle(), Qt::Key_NumLock);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringLiteral(",NUM,"));
    CHKeyIndicators::SetReader(old);
}

TEST_F(Frame, ScriptMenuReloadsAndTheStatusBarNamesTheScript) {
    writeLine();
    {
        auto app = start(doc(), true);
        EXPECT_TRUE(app->Frame()->ScriptPaneText().isEmpty()); // no script, no pane
        ASSERT_TRUE(app->Frame()->ScriptMenu());
        EXPECT_FALSE(app->Frame()->ScriptMenu()->actions().at(0)->isEnabled());
    }
    write(path("line.js"), "tovik.log('first');\n");
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("line.js"));
    const QList<QAction*> items = f.ScriptMenu()->actions();
    write(path("line.js"), "tovik.log(;\n");
    items[0]->trigger();
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("script error"));
    write(path("line.js"), "tovik.log('second');\n");
    items[0]->trigger();
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("line.js"));
    EXPECT_EQ(app->View().EventLog().Lines().filter(QStringLiteral("Script loaded: line.js")).size(), 2);
}

TEST_F(Frame, HideSettingMinimisesTheWindowAtStart) {
    writeLine("Hide=1\n");
    auto app = start(doc(), true);
    QCoreApplication::processEvents();
    // No notification area offscreen: the window is minimised, not lost.
    EXPECT_TRUE(app->Frame()->isMinimized());
    EXPECT_FALSE(app->Frame()->isHidden());
}

// The key that closes the splash goes no further; the next reaches its command.
TEST_F(Frame, KeyPressClosesTheSplashAndGoesNoFurther) {
    writeLine();
    auto app = start(doc(), true, true);
    ASSERT_NE(CSplashWnd::Current(), nullptr);
    CHMsgListView& list = app->Frame()->Form().MessageList();
    list.setFocus();
    list.SelectRow(0);
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(CSplashWnd::Current(), nullptr);
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(app->Doc().FindByName("S1F2 Data"), nullptr);
}

} // namespace
} // namespace tovik::test
