// The main window on the offscreen platform: the window rectangle written at
// close and restored at start, the recent files, dropped documents, the save
// question, the command states and the splash.
#include "shell_fixture.h"

#include "CAboutDlg.h"
#include "CHKeyIndicators.h"
#include "CHEventLog.h"
#include "CHMsgListView.h"
#include "CHRecentFileList.h"
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
#include <QSignalSpy>
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

TEST_F(Frame, WindowRectangleRoundTripsThroughTheSettingsFile) {
    writeLine();
    const QRect wanted = inside();
    {
        auto app = start(doc(), true);
        app->Frame()->setGeometry(wanted);
        QCoreApplication::processEvents();
        ASSERT_TRUE(app->Frame()->close());
    }
    const QByteArray text = read(ini());
    EXPECT_TRUE(text.contains("WindowLeft=" + QByteArray::number(wanted.left())));
    EXPECT_TRUE(text.contains("WindowRight=" + QByteArray::number(wanted.left() + wanted.width())));
    EXPECT_TRUE(
        text.contains("WindowBottom=" + QByteArray::number(wanted.top() + wanted.height())));

    auto again = start(doc(), true);
    EXPECT_EQ(again->Frame()->geometry(), wanted);
}

TEST_F(Frame, WithoutSavedValuesTheWindowKeepsTheInitialSize) {
    writeLine();
    auto app = start(doc(), true);
    EXPECT_EQ(app->Frame()->size(), QSize(640, 480));
}

TEST_F(Frame, SaveWindowPositionOffIgnoresButStillWritesTheRectangle) {
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

TEST_F(Frame, RectangleOffEveryScreenGetsTheDefaultPlacement) {
    const QRect s = screen();
    writeLine("WindowLeft=" + QByteArray::number(s.right() + 500) + "\nWindowTop=" +
              QByteArray::number(s.top()) + "\nWindowRight=" + QByteArray::number(s.right() + 900) +
              "\nWindowBottom=" + QByteArray::number(s.top() + 300) + "\n");
    auto app = start(doc(), true);
    EXPECT_EQ(app->Frame()->size(), QSize(640, 480));
    EXPECT_TRUE(IsOnAScreen(app->Frame()->geometry(), ScreenGeometries()));
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

TEST_F(Frame, RecentFilesKeepTheNewestFourAndSurviveARestart) {
    QStringList docs;
    for (int i = 0; i < 5; ++i) {
        docs.append(dir.filePath(QStringLiteral("d%1.tvkm").arg(i)));
        write(docs.last(), kDocument);
    }
    writeLine();
    {
        auto app = start(doc(), true);
        for (const QString& d : docs)
            ASSERT_TRUE(app->Frame()->OpenDocumentFile(d));
        ASSERT_TRUE(app->Frame()->OpenDocumentFile(docs[2])); // moves up, not twice
        EXPECT_EQ(app->Frame()->RecentFiles().Files(),
                  (QStringList{docs[2], docs[4], docs[3], docs[1]}));
        ASSERT_TRUE(app->Frame()->close());
    }
    auto again = start(doc(), true);
    // The start-up's own document joins at the top.
    EXPECT_EQ(again->Frame()->RecentFiles().Files(),
              (QStringList{doc(), docs[2], docs[4], docs[3]}));
    QAction* second = again->Frame()->Action(CMainFrame::ID_FILE_MRU_FILE1 + 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->text(), QStringLiteral("&2 ") + docs[2]);
    second->trigger();
    EXPECT_EQ(again->Doc().GetPathName(), docs[2]);
}

TEST_F(Frame, RecentFileThatCannotBeOpenedLeavesTheList) {
    writeLine();
    const QString gone = path("gone.tvkm");
    write(gone, kDocument);
    auto app = start(doc(), true);
    ASSERT_TRUE(app->Frame()->OpenDocumentFile(gone));
    ASSERT_TRUE(app->Frame()->OpenDocumentFile(doc()));
    QFile::remove(gone);
    app->Frame()->Action(CMainFrame::ID_FILE_MRU_FILE1 + 1)->trigger();
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(app->Frame()->RecentFiles().Files(), QStringList{doc()});
    EXPECT_EQ(app->Doc().GetPathName(), doc());
}

TEST(RecentFileList, MenuTextKeepsAmpersandsAndShortensLongPaths) {
    CHRecentFileList list;
    list.Add(QStringLiteral("/data/R&D/line.tvkm"));
    EXPECT_EQ(list.MenuText(0), QStringLiteral("&1 /data/R&&D/line.tvkm"));
    list.Add(QStringLiteral("/") + QString(80, QLatin1Char('x')) + QStringLiteral("/long.tvkm"));
    EXPECT_EQ(list.MenuText(0), QStringLiteral("&1 .../long.tvkm"));
    EXPECT_EQ(list.MenuText(1), QStringLiteral("&2 /data/R&&D/line.tvkm"));
}

TEST_F(Frame, DroppedDocumentIsOpened) {
    writeLine();
    const QString other = path("other.tvkm");
    write(other, "'Dropped'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    auto app = start(QString(), true);
    ASSERT_TRUE(app->Frame()->acceptDrops());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("notes.txt")), QUrl::fromLocalFile(other)});
    QDragEnterEvent offer(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app->Frame(), &offer);
    ASSERT_TRUE(offer.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app->Frame(), &drop);
    QCoreApplication::processEvents();
    EXPECT_EQ(app->Doc().GetPathName(), other);
    EXPECT_NE(app->Doc().FindByName("Dropped"), nullptr);

    QMimeData text;
    text.setUrls({QUrl::fromLocalFile(path("notes.txt"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app->Frame(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(Frame, ModifiedDocumentIsAskedAboutAndCancelKeepsIt) {
    writeLine();
    auto app = start(doc(), true);
    QStringList asked;
    QMessageBox::StandardButton answer = QMessageBox::Cancel;
    app->Frame()->SetSaveQuestion([&](QWidget*, const QString& text) {
        asked.append(text);
        return answer;
    });
    app->Doc().SetModifiedFlag(true);

    EXPECT_TRUE(app->Frame()->Execute(CMainFrame::ID_FILE_NEW));
    ASSERT_EQ(asked, QStringList{QStringLiteral("Save changes to ") + doc() + QStringLiteral("?")});
    EXPECT_EQ(app->Doc().GetPathName(), doc());
    EXPECT_FALSE(app->Frame()->close());

    // Yes writes the document, then the new one comes.
    answer = QMessageBox::Yes;
    app->Doc().AddMessage(std::make_unique<CHOneMsg>());
    app->Doc().m_msgList.back()->m_strName = "Added";
    EXPECT_TRUE(app->Frame()->Execute(CMainFrame::ID_FILE_NEW));
    EXPECT_TRUE(app->Doc().GetPathName().isEmpty());
    EXPECT_TRUE(read(doc()).contains("'Added'"));
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

TEST_F(Frame, AcceleratorsReachTheirCommands) {
    writeLine();
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    f.activateWindow();
    CHMsgListView& list = f.Form().MessageList();
    list.setFocus();
    list.SelectRow(0);
    ASSERT_EQ(list.SelectedName(), QStringLiteral("S1F2 Data"));
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(app->Doc().FindByName("S1F2 Data"), nullptr);
    EXPECT_TRUE(app->Doc().IsModified());
}

TEST_F(Frame, MenusCarryTheirTexts) {
    writeLine();
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    EXPECT_EQ(f.Action(CMainFrame::ID_APP_ABOUT)->text(), QStringLiteral("&About Tovikar..."));
    EXPECT_EQ(f.Action(CMainFrame::ID_FILE_OPEN)->text(), QStringLiteral("&Open...\tCtrl+O"));
    EXPECT_EQ(f.Action(CMainFrame::ID_SEND_MESSAGE)->toolTip(), QStringLiteral("Send"));
    EXPECT_EQ(f.Action(CMainFrame::ID_CONNECT)->statusTip(), QStringLiteral("Connect"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("line.tvkm - Tovik"));
    QStringList toolbar;
    for (QAction* a : f.ToolBar()->actions())
        toolbar.append(a->isSeparator() ? QStringLiteral("-") : a->toolTip());
    EXPECT_EQ(
        toolbar.join(QLatin1Char(',')),
        QStringLiteral("New,Open,Save,-,Cut,Copy,Paste,-,Record,-,Add New Message,Delete Message,"
                       "Message Property,-,Option,Connect,Send,-,About"));
    EXPECT_EQ(f.toolBarArea(f.ToolBar()), Qt::BottomToolBarArea);
    EXPECT_FALSE(f.PaneText(CMainFrame::ID_INDICATOR_DATE).isEmpty());
    EXPECT_FALSE(f.PaneText(CMainFrame::ID_INDICATOR_TIME).isEmpty());
    EXPECT_EQ(CAboutDlg::VersionText(), QStringLiteral("Tovik Version 2.50"));
}

// "CAP", "NUM", "SCRL", the date and the time, the locks shown while on and
// followed at the next key.
TEST_F(Frame, StatusBarPanesFollowTheLockKeys) {
    CHLockKeys keys;
    const CHKeyIndicators::Reader old = CHKeyIndicators::SetReader([&keys] { return keys; });
    writeLine();
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    f.activateWindow();
    QStringList panes;
    for (QLabel* pane : f.statusBar()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        if (!pane->objectName().isEmpty() && pane->isVisibleTo(&f))
            panes << pane->objectName();
    EXPECT_EQ(panes, (QStringList{QStringLiteral("CAP"), QStringLiteral("NUM"), QStringLiteral("SCRL"),
                                  QStringLiteral("DatePane"), QStringLiteral("TimePane")}));
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
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("&Reload"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("Open &Folder"));

    write(path("line.js"), "tovik.log(;\n");
    items[0]->trigger();
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("script error"));
    write(path("line.js"), "tovik.log('second');\n");
    items[0]->trigger();
    EXPECT_EQ(f.ScriptPaneText(), QStringLiteral("line.js"));
    EXPECT_EQ(app->View().EventLog().Lines().filter(QStringLiteral("Script loaded: line.js")).size(), 2);
}

TEST_F(Frame, HiddenBarsStayHiddenNextTime) {
    writeLine();
    {
        auto app = start(doc(), true);
        app->Frame()->Execute(CMainFrame::ID_VIEW_TOOLBAR);
        app->Frame()->Execute(CMainFrame::ID_VIEW_STATUS_BAR);
        ASSERT_TRUE(app->Frame()->close());
    }
    auto again = start(doc(), true);
    EXPECT_TRUE(again->Frame()->ToolBar()->isHidden());
    EXPECT_TRUE(again->Frame()->statusBar()->isHidden());
    again->Frame()->UpdateCommandStates();
    EXPECT_FALSE(again->Frame()->Action(CMainFrame::ID_VIEW_TOOLBAR)->isChecked());
}

TEST_F(Frame, HideSettingMinimisesTheWindowAtStart) {
    writeLine("Hide=1\n");
    auto app = start(doc(), true);
    QCoreApplication::processEvents();
    // No notification area offscreen: the window is minimised, not lost.
    EXPECT_TRUE(app->Frame()->isMinimized());
    EXPECT_FALSE(app->Frame()->isHidden());
}

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
