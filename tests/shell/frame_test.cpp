// The main window on the offscreen platform: what survives a restart (the
// window rectangle, the bars, the recent-file menu), the splash, dropped
// documents and the save question at close, the command and status states.
#include "shell_fixture.h"

#include "../common/hsms_peer.h"

#include "CHDocCommands.h"
#include "CHFaultsPanel.h"
#include "CHKeyIndicators.h"
#include "CHMsgListView.h"
#include "CHWindowPlacement.h"
#include "CHScriptEngine.h"
#include "CMainFrame.h"
#include "CSplashWnd.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

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

// Tools > Faults lists the rules with their fire counts, following them by
// itself; a cleared box switches a rule off.
TEST_F(Frame, FaultsWindowFollowsFiresAndSwitchesRulesOff) {
    writeLine();
    auto app = start(doc(), true);
    CHFaultRules& rules = app->View().Faults();
    for (const char* rule : {R"({"match": "S1F1", "action": "drop"})",
                             R"({"match": "select", "action": "reject", "status": 2})"})
        ASSERT_NE(rules.add(QJsonDocument::fromJson(rule).object()).id, 0);
    CMainFrame& f = *app->Frame();
    QAction* open = nullptr;
    for (QAction* menu : f.menuBar()->actions())
        if (menu->text() == QStringLiteral("&Tools"))
            for (QAction* a : menu->menu()->actions())
                if (a->text() == QStringLiteral("&Faults..."))
                    open = a;
    ASSERT_TRUE(open);
    open->trigger();
    QTreeWidget* list = f.FaultsPanel().List();
    ASSERT_TRUE(list->isVisible());
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("reject"));
    EXPECT_TRUE(list->topLevelItem(1)->text(4).contains(QStringLiteral("\"status\":2"))) << list->topLevelItem(1)->text(4).toStdString();
    CHFaultRules::Query s1f1;
    s1f1.stream = s1f1.function = 1;
    ASSERT_TRUE(rules.decide(s1f1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->topLevelItem(0)->text(3) == QStringLiteral("1"); }, 3000));
    list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(rules.decide(s1f1));
    EXPECT_FALSE(rules.list().at(0).toObject().value(QStringLiteral("enabled")).toBool());
}

TEST_F(Frame, HideSettingMinimisesTheWindowAtStart) {
    writeLine("Hide=1\n");
    auto app = start(doc(), true);
    QCoreApplication::processEvents();
    // No notification area offscreen: the window is minimised, not lost.
    EXPECT_TRUE(app->Frame()->isMinimized());
    EXPECT_FALSE(app->Frame()->isHidden());
}

// The script's panel in the Equipment dock: widgets named after their
// items, a press and an edit reaching the handlers, set shown at once, the
// same actions through the panel's JSON interface, and the dock hidden by
// the View menu stays hidden at the next start.
TEST_F(Frame, TheScriptsPanelInTheEquipmentDock) {
    writeLine();
    write(path("line.js"), R"JS(
let presses = 0;
tovik.panel({ title: 'Line', sections: [
    { title: 'State', items: [
        { id: 'presses', type: 'value', label: 'Presses', value: 0 },
        { id: 'press', type: 'button', label: 'Press', onClick: () => tovik.panel.set('presses', ++presses) },
        { id: 'temp', type: 'value', label: 'Temperature', unit: 'degC', value: 20, editable: true,
          onChange: (v) => tovik.panel.set('echo', `temp ${typeof v} ${v}`) },
        { id: 'mode', type: 'choice', label: 'Mode', options: ['A', 'B'], value: 'A',
          onChange: (v) => tovik.panel.set('echo', `mode ${v}`) },
        { id: 'on', type: 'toggle', label: 'On', value: false, onChange: (v) => tovik.panel.set('echo', `on ${v}`) },
        { id: 'say', type: 'text', label: 'Say', onSubmit: (t) => tovik.panel.set('echo', `say ${t}`) },
        { id: 'echo', type: 'value', label: 'Echo', value: '' } ] },
    { title: 'Table', items: [
        { id: 'rows', type: 'table', columns: ['Id', 'Value'], rows: [[1, 'x'], [2, 'y']], editable: [1],
          onChange: (r, c, v) => tovik.panel.set('echo', `cell ${r} ${c} ${v}`) } ] } ] });
)JS");
    {
        auto app = start(doc(), true);
        CMainFrame& f = *app->Frame();
        auto* dock = f.findChild<QDockWidget*>(QStringLiteral("EquipmentDock"));
        ASSERT_NE(dock, nullptr);
        EXPECT_EQ(dock->windowTitle(), QStringLiteral("Equipment"));
        EXPECT_TRUE(dock->isVisible());
        auto* press = dock->findChild<QPushButton*>(QStringLiteral("press"));
        auto* presses = dock->findChild<QLabel*>(QStringLiteral("presses"));
        auto* echo = dock->findChild<QLabel*>(QStringLiteral("echo"));
        auto* temp = dock->findChild<QLineEdit*>(QStringLiteral("temp"));
        auto* mode = dock->findChild<QComboBox*>(QStringLiteral("mode"));
        auto* table = dock->findChild<QTableWidget*>(QStringLiteral("rows"));
        ASSERT_TRUE(press && presses && echo && temp && mode && table && dock->findChild<QCheckBox*>(QStringLiteral("on")));
        EXPECT_EQ(press->text(), QStringLiteral("Press"));
        EXPECT_EQ(temp->text(), QStringLiteral("20"));
        EXPECT_EQ(table->item(1, 1)->text(), QStringLiteral("y"));

        QTest::mouseClick(press, Qt::LeftButton);
        QTest::mouseClick(press, Qt::LeftButton);
        EXPECT_EQ(presses->text(), QStringLiteral("2"));
        temp->setFocus();
        temp->selectAll();
        QTest::keyClicks(temp, QStringLiteral("31.5"));
        QTest::keyClick(temp, Qt::Key_Return);
        EXPECT_EQ(echo->text(), QStringLiteral("temp number 31.5"));
        table->item(0, 1)->setText(QStringLiteral("z"));
        EXPECT_EQ(echo->text(), QStringLiteral("cell 0 1 z"));

        // The JSON interface: what the window shows, and the same actions.
        CHScriptPanel& panel = app->Script().Panel();
        EXPECT_EQ(panel.Item(QStringLiteral("presses")).value(QStringLiteral("value")).toInt(), 2);
        EXPECT_EQ(panel.Item(QStringLiteral("rows")).value(QStringLiteral("rows")).toArray()[0].toArray()[1],
                  QJsonValue(QStringLiteral("z")));
        EXPECT_EQ(panel.Act(QStringLiteral("press"), {}), QString());
        EXPECT_EQ(presses->text(), QStringLiteral("3"));
        EXPECT_EQ(panel.Act(QStringLiteral("mode"), QStringLiteral("B")), QString());
        EXPECT_EQ(mode->currentText(), QStringLiteral("B"));
        EXPECT_EQ(echo->text(), QStringLiteral("mode B"));
        EXPECT_EQ(panel.Act(QStringLiteral("say"), QStringLiteral("hi")), QString());
        EXPECT_EQ(echo->text(), QStringLiteral("say hi"));
        EXPECT_EQ(panel.Act(QStringLiteral("on"), true), QString());
        EXPECT_EQ(echo->text(), QStringLiteral("on true"));
        for (const auto& [id, value] : {std::pair{"mode", QJsonValue(QStringLiteral("C"))}, {"presses", QJsonValue(1)},
                                        {"temp", QJsonValue(QStringLiteral("warm"))}, {"nothing", QJsonValue()},
                                        {"rows", QJsonValue(QJsonObject{{QStringLiteral("row"), 0}, {QStringLiteral("column"), 0}, {QStringLiteral("value"), 5}})}})
            EXPECT_FALSE(panel.Act(QString::fromLatin1(id), value).isEmpty()) << id;
        EXPECT_EQ(echo->text(), QStringLiteral("on true"));

        QAction* toggle = dock->toggleViewAction();
        EXPECT_TRUE(f.menuBar()->actions()[2]->menu()->actions().contains(toggle));
        toggle->trigger();
        EXPECT_FALSE(dock->isVisible());
        ASSERT_TRUE(f.close());
    }
    auto again = start(doc(), true);
    auto* dock = again->Frame()->findChild<QDockWidget*>(QStringLiteral("EquipmentDock"));
    ASSERT_NE(dock, nullptr);
    EXPECT_FALSE(dock->isVisible());
    EXPECT_NE(dock->findChild<QPushButton*>(QStringLiteral("press")), nullptr);
}

// The GEM equipment's panel comes from its model: a Fire button per event,
// Set and Clear per alarm, a row per variable and constant. An operator's
// constant edit follows the constant's range, and one that takes sets the
// alarm it now lies under at once; the operator's switch goes off-line.
TEST_F(Frame, TheGemEquipmentsPanelFollowsItsModel) {
    writeGemExample();
    const QJsonObject model = QJsonDocument::fromJson(readAll(path("equipment.json"))).object();
    auto app = start(path("equipment.tvkm"), true);
    CHScriptPanel& panel = app->Script().Panel();
    auto* dock = app->Frame()->findChild<QDockWidget*>(QStringLiteral("EquipmentDock"));
    ASSERT_NE(dock, nullptr);
    for (const QJsonValue& e : model.value(QStringLiteral("collectionEvents")).toArray())
        EXPECT_NE(dock->findChild<QPushButton*>(QStringLiteral("fire-%1").arg(e[QStringLiteral("id")].toInt())), nullptr);
    for (const char* button : {"set-5001", "clear-5001", "spoolPurge", "recipeUpload"})
        EXPECT_NE(dock->findChild<QPushButton*>(QLatin1String(button)), nullptr) << button;
    auto* ecs = dock->findChild<QTableWidget*>(QStringLiteral("ecs"));
    auto* svs = dock->findChild<QTableWidget*>(QStringLiteral("svs"));
    ASSERT_TRUE(ecs && svs);
    EXPECT_EQ(svs->rowCount(), model.value(QStringLiteral("statusVariables")).toArray().size());
    EXPECT_EQ(ecs->rowCount(), model.value(QStringLiteral("equipmentConstants")).toArray().size());
    EXPECT_EQ(ecs->item(0, 2)->text(), QStringLiteral("250"));
    auto* alarm = dock->findChild<QLabel*>(QStringLiteral("alarm-5001"));
    ASSERT_NE(alarm, nullptr);
    EXPECT_EQ(alarm->text(), QStringLiteral("clear"));

    const auto cell = [](const char* value) {
        return QJsonObject{{QStringLiteral("row"), 0}, {QStringLiteral("column"), 2}, {QStringLiteral("value"), QLatin1String(value)}};
    };
    EXPECT_EQ(panel.Act(QStringLiteral("ecs"), cell("500")), QString()); // above its maximum
    EXPECT_EQ(ecs->item(0, 2)->text(), QStringLiteral("250"));
    EXPECT_EQ(alarm->text(), QStringLiteral("clear"));
    ecs->item(0, 2)->setText(QStringLiteral("100")); // below the chamber's 180.5
    EXPECT_EQ(ecs->item(0, 2)->text(), QStringLiteral("100"));
    EXPECT_EQ(alarm->text(), QStringLiteral("SET"));

    auto* state = dock->findChild<QLabel*>(QStringLiteral("controlState"));
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->text(), QStringLiteral("host off-line"));
    EXPECT_EQ(panel.Act(QStringLiteral("control"), QStringLiteral("Off-line")), QString());
    EXPECT_EQ(state->text(), QStringLiteral("equipment off-line"));
}

// The dock hidden, nobody reads the panel and the script leaves it as it
// was while a host brings the equipment on-line; shown, it is current at once.
TEST_F(Frame, AHiddenGemPanelIsCurrentTheMomentItIsShown) {
    const int port = writeGemExample();
    auto app = start(path("equipment.tvkm"), true);
    auto* dock = app->Frame()->findChild<QDockWidget*>(QStringLiteral("EquipmentDock"));
    ASSERT_NE(dock, nullptr);
    auto* state = dock->findChild<QLabel*>(QStringLiteral("controlState"));
    auto* communication = dock->findChild<QLabel*>(QStringLiteral("communication"));
    ASSERT_TRUE(state && communication);
    ASSERT_TRUE(dock->isVisible());
    EXPECT_EQ(state->text(), QStringLiteral("host off-line"));
    dock->toggleViewAction()->trigger();
    ASSERT_FALSE(dock->isVisible());

    const auto pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); };
    hsmstest::RawHost host(pump);
    ASSERT_TRUE(host.connect(port));
    ASSERT_TRUE(host.send(hsmstest::header(0xffff, 0, 0, 1, 1)));
    ASSERT_TRUE(host.recv());
    const auto s1f13 = host.recv(); // the equipment's own; COMMACK 0
    ASSERT_TRUE(s1f13);
    ASSERT_TRUE(host.send(hsmstest::header(0, 1, 14, 0).substr(0, 12) + s1f13->substr(12, 8), "0102" "210100" "0100"));
    ASSERT_TRUE(host.send(hsmstest::header(0, 0x81, 17, 2)));
    EXPECT_EQ(host.recv(), hsmstest::header(0, 1, 18, 2) + "210100");
    for (int i = 0; i < 20; ++i)
        pump();
    EXPECT_EQ(state->text(), QStringLiteral("host off-line"));

    dock->toggleViewAction()->trigger();
    EXPECT_EQ(state->text(), QStringLiteral("on-line remote"));
    EXPECT_EQ(communication->text(), QStringLiteral("communicating"));
}

// A recording in the window: its folder in the title and the status bar;
// Tools > Stop Recording writes the files and switches the ports off. A
// second recording into that folder asks first, naming the files: No opens
// the window without recording, Yes records and replaces them.
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
    write(path("rec/rec.tvkm"), "'kept'\r\nBegin List\r\ns1f2\r\n{}\r\nEnd List\r\n\r\n");
    QStringList asked;
    bool answer = false;
    const QuestionHandler previous = setQuestionHandler([&](QWidget*, const QString& text, const QString& detail) {
        asked << text + QLatin1Char('\n') + detail;
        return answer;
    });
    const QString notRecording = QStringLiteral("Recording: not started, the files in %1 are kept.").arg(path("rec"));
    for (bool yes : {false, true}) {
        answer = yes;
        CHAppInstance again(o);
        ASSERT_TRUE(again.InitInstance()) << yes;
        QCoreApplication::processEvents();
        ASSERT_EQ(asked.size(), yes ? 2 : 1);
        EXPECT_TRUE(asked.back().contains(path("rec/rec.tvkm"))) << asked.back().toStdString();
        EXPECT_EQ(again.View().EventLog().Lines().contains(notRecording), !yes);
        EXPECT_EQ(again.Frame()->windowTitle().contains(QStringLiteral("Recording to")), yes);
        if (QAction* stop = again.Frame()->StopRecordingAction(); yes && stop)
            stop->trigger();
        EXPECT_EQ(readAll(path("rec/rec.tvkm")).startsWith("'kept'"), !yes);
    }
    setQuestionHandler(previous);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(QLatin1Char('\n')).toStdString();
}

} // namespace
} // namespace tovik::test
