// The main window on the offscreen platform: what survives a restart (the
// window rectangle, the bars, the recent-file menu), the splash, dropped
// documents and the save question at close, the command and status states.
#include "shell_fixture.h"

#include "CHDocCommands.h"
#include "CHKeyIndicators.h"
#include "CHMsgListView.h"
#include "CHWindowPlacement.h"
#include "CMainFrame.h"
#include "CSplashWnd.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>

namespace tovik::test {
namespace {

using Frame = ShellFixture;

// What a restart keeps: the window rectangle, the bars, the recent files. The
// splash of the second start closes at a key, which goes no further.
TEST_F(Frame, WindowBarsAndRecentFilesSurviveARestart) {
    writeLine();
    const QString other = path("other.tvkm");
    write(other, kDocument);
    // Well inside the screen and unlike the default placement.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect wanted(screen.left() + 30, screen.top() + 40, 500, 360);
    {
        auto app = start(doc(), true);
        app->Frame()->setGeometry(wanted);
        app->Frame()->Execute(CMainFrame::ID_VIEW_STATUS_BAR);
        ASSERT_TRUE(app->Frame()->Documents().OpenFile(other));
        ASSERT_TRUE(app->Frame()->close());
    }
    auto again = start(doc(), true, true);
    CMainFrame& f = *again->Frame();
    EXPECT_EQ(f.geometry(), wanted);
    EXPECT_TRUE(f.statusBar()->isHidden());
    EXPECT_FALSE(f.Action(CMainFrame::ID_VIEW_STATUS_BAR)->isChecked());
    // The start-up's own document joins the menu at the top.
    QAction* second = f.Action(CMainFrame::ID_FILE_MRU_FILE1 + 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->text(), QStringLiteral("&2 ") + other);
    EXPECT_TRUE(f.FileMenu()->actions().contains(second));
    second->trigger();
    EXPECT_EQ(again->Doc().GetPathName(), other);

    ASSERT_NE(CSplashWnd::Current(), nullptr);
    CHMsgListView& list = f.Form().MessageList();
    ASSERT_TRUE(QTest::qWaitFor([&list] { return list.count() > 0; })); // filled at the view's tick
    list.setFocus();
    list.SelectRow(0);
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(CSplashWnd::Current(), nullptr);
    EXPECT_NE(again->Doc().FindByName("S1F2 Data"), nullptr);
    QTest::keyClick(&list, Qt::Key_Delete); // reaches Delete Message
    EXPECT_EQ(again->Doc().FindByName("S1F2 Data"), nullptr);
}

TEST(WindowPlacement, WhatCountsAsOnAScreen) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    // Across the seam of two screens; partly above the first with its corner reachable.
    EXPECT_TRUE(RestorableRect({1800, 100, 2400, 500}, screens).has_value());
    EXPECT_TRUE(RestorableRect({100, -20, 700, 400}, screens).has_value());
    // Only a sliver shows: the title cannot be reached.
    EXPECT_FALSE(RestorableRect({1910 + 1280, 100, 4000, 500}, screens).has_value());
    // Never written, inverted, or absurd values from a hand-edited file.
    EXPECT_FALSE(RestorableRect({-1, -1, -1, -1}, screens).has_value());
    EXPECT_FALSE(RestorableRect({500, 500, 100, 100}, screens).has_value());
    EXPECT_FALSE(RestorableRect({-2147483647 - 1, 0, 2147483647, 500}, screens).has_value());
}

// The window's own part of the document commands: the drop and the question
// at close; the commands themselves are tested without a window.
TEST_F(Frame, DropOpensAndCloseAsksAboutChanges) {
    // A saved rectangle is not used with SaveWindowPosition off.
    writeLine("SaveWindowPosition=0\nWindowLeft=20\nWindowTop=20\nWindowRight=900\nWindowBottom=700\n");
    write(path("other.tvkm"), kDocument);
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    EXPECT_EQ(f.size(), QSize(640, 480));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("notes.txt")), QUrl::fromLocalFile(path("other.tvkm"))});
    QDragEnterEvent offer(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &offer);
    ASSERT_TRUE(offer.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &drop);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("other.tvkm - Tovik"));

    QStringList asked;
    CHDocPrompts::Answer answer = CHDocPrompts::Answer::Cancel;
    const auto ask = [&](const QString& question) { asked.append(question); return answer; };
    f.Documents().SetPrompts({ask, [](bool, const QString&) { return QString(); }});
    app->Doc().SetModifiedFlag(true);
    EXPECT_FALSE(f.close());
    EXPECT_EQ(asked, QStringList{QStringLiteral("Save changes to ") + path("other.tvkm") + QStringLiteral("?")});
    answer = CHDocPrompts::Answer::No;
    EXPECT_TRUE(f.close());
    EXPECT_FALSE(readAll(ini()).contains("WindowRight=900")); // written whatever the setting says
}

// The commands' states follow the engine, the selection and the clipboard;
// the status bar's lock-key pane the keys, its script pane the script.
TEST_F(Frame, StatesFollowWhatTheyShow) {
    CHLockKeys keys;
    const CHKeyIndicators::Reader old = CHKeyIndicators::SetReader([&keys] { return keys; });
    writeLine();
    write(path("line.js"), "tovik.log('first');\n");
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    ASSERT_TRUE(app->View().GetConnected());
    // Set when the engine reported the change, not by a call of ours.
    EXPECT_TRUE(f.Action(CMainFrame::ID_CONNECT)->isChecked());
    EXPECT_FALSE(f.Action(CMainFrame::ID_OPTION)->isEnabled());
    EXPECT_FALSE(f.Action(CMainFrame::ID_EDIT_PASTE)->isEnabled());
    // The Connect button switches the ports off; the check follows the engine.
    EXPECT_TRUE(f.Execute(CMainFrame::ID_CONNECT));
    EXPECT_FALSE(f.Action(CMainFrame::ID_CONNECT)->isChecked());
    EXPECT_FALSE(f.Execute(CMainFrame::ID_SEND_MESSAGE)); // a disabled command does nothing
    f.Form().MessageList().SelectRow(0);
    EXPECT_TRUE(f.Execute(CMainFrame::ID_EDIT_COPY));
    EXPECT_TRUE(f.Action(CMainFrame::ID_EDIT_PASTE)->isEnabled());

    QLabel* caps = f.statusBar()->findChild<QLabel*>(QStringLiteral("CAP"));
    EXPECT_EQ(caps->text(), QString());
    keys.caps = true;
    QTest::keyClick(f.windowHandle(), Qt::Key_CapsLock);
    EXPECT_EQ(caps->text(), QStringLiteral("CAP"));
    CHKeyIndicators::SetReader(old);
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("line.js"));
    write(path("line.js"), "tovik.log(;\n");
    f.ScriptMenu()->actions().at(0)->trigger(); // Tools > Script > Reload
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("script error"));
}

TEST_F(Frame, HideSettingMinimisesTheWindowAtStart) {
    writeLine("Hide=1\n");
    auto app = start(doc(), true);
    QCoreApplication::processEvents();
    // No notification area offscreen: the window is minimised, not lost.
    EXPECT_TRUE(app->Frame()->isMinimized());
    EXPECT_FALSE(app->Frame()->isHidden());
}

// A recording in the window: its folder in the title and the status bar;
// Tools > Stop Recording writes the files and switches the ports off; a
// second recording into that folder is refused with a box naming the files.
TEST_F(Frame, RecordingShowsItsFolderAndStopWritesTheFiles) {
    writeLine();
    CHStartOptions o;
    o.documentPath = doc();
    o.windowed = true;
    o.executablePath = path("bin/tovik");
    o.userConfigDir = configDir();
    o.recordDir = path("rec");
    o.upstreamHost = QStringLiteral("127.0.0.1");
    o.upstreamPort = freePort(); // nobody there: the host side stays up
    {
        CHAppInstance app(o);
        ASSERT_TRUE(app.InitInstance());
        QCoreApplication::processEvents();
        CMainFrame& f = *app.Frame();
        const QString recording = QStringLiteral("Recording to ") + path("rec");
        EXPECT_EQ(f.windowTitle(), QStringLiteral("line.tvkm - Tovik - ") + recording);
        const auto panes = f.statusBar()->findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(panes.begin(), panes.end(), [&](QLabel* l) { return l->text() == recording; }));
        ASSERT_TRUE(f.StopRecordingAction());
        f.StopRecordingAction()->trigger();
        EXPECT_EQ(f.windowTitle(), QStringLiteral("line.tvkm - Tovik"));
        EXPECT_FALSE(f.StopRecordingAction()->isEnabled());
        EXPECT_FALSE(app.View().GetConnected());
        for (const char* file : {"rec/rec.tvkm", "rec/rec.js", "rec/rec.ini", "rec/rec.jsonl", "rec/rec.pcapng"})
            EXPECT_TRUE(QFileInfo::exists(path(file))) << file;
    }
    CHAppInstance again(o);
    EXPECT_FALSE(again.InitInstance());
    ASSERT_FALSE(details.isEmpty());
    EXPECT_TRUE(details.back().contains(path("rec/rec.tvkm"))) << details.back().toStdString();
}

} // namespace
} // namespace tovik::test
