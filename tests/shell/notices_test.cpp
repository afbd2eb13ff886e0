// What the window tells about a script or a document that did not load
// whole (the status pane's click, the title), and the one version it shows.
#include "shell_fixture.h"

#include "CAboutDlg.h"
#include "CHDocCommands.h"
#include "CHEventLog.h"
#include "CHListBoxOld.h"
#include "CMainFrame.h"
#include "CSplashWnd.h"
#include "CTovikarForm.h"
#include "CTovikarView.h"

#include <QLabel>
#include <QTest>

namespace tovik::test {
namespace {

using Notices = ShellFixture;

// A click on "script error" selects the error's line in the log and shows
// it, even when many lines came after it or the log dropped it.
TEST_F(Notices, ScriptErrorPaneShowsTheErrorLine) {
    writeLine();
    write(path("line.js"), "tovik.on('S1F1', () => null);\n\nconst broken = ;\n");
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    auto* pane = f.findChild<QLabel*>(QStringLiteral("ScriptPane"));
    ASSERT_NE(pane, nullptr);
    ASSERT_EQ(pane->text(), QStringLiteral("script error"));
    CHListBoxOld& log = f.Form().EventLogList();
    const auto clickShows = [&](const char* start) {
        QTest::mouseClick(pane, Qt::LeftButton);
        QTest::qWait(50);
        const int row = log.SelectedLine();
        ASSERT_GE(row, 0);
        EXPECT_TRUE(log.Log().Line(log.LogLine(row)).startsWith(QLatin1String(start)))
            << log.Log().Line(log.LogLine(row)).toStdString();
        EXPECT_TRUE(log.viewport()->rect().intersects(log.visualRect(log.model()->index(row, 0))));
    };
    for (int i = 0; i < 300; ++i)
        app->View().AddText(QStringLiteral("later %1").arg(i));
    clickShows("Script error: line.js line 3: SyntaxError");
    for (int i = 0; i < CHEventLog::kMaxLines; ++i)
        app->View().AddText(QStringLiteral("much later %1").arg(i));
    clickShows("Script error: line.js line 3: SyntaxError");
}

// The title says a syntax error cut the document short while it is open.
TEST_F(Notices, TitleTellsOfADocumentCutShort) {
    writeLine();
    write(doc(), QByteArray(kDocument) + "'Broken'\r\nBegin List\r\ns1f3\r\n<u4\r\n");
    write(path("good.tvkm"), kDocument);
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    EXPECT_EQ(f.windowTitle().toStdString(), "line.tvkm - Tovik - only the definitions before line 11 were loaded");
    ASSERT_TRUE(f.Documents().OpenFile(path("good.tvkm")));
    EXPECT_EQ(f.windowTitle().toStdString(), "good.tvkm - Tovik");
}

// The splash, the about box and --version name one version.
TEST_F(Notices, SplashAndAboutBoxShowTheProgramsVersion) {
    writeLine();
    auto app = start(doc(), true, true);
    ASSERT_NE(CSplashWnd::Current(), nullptr);
    CAboutDlg about(app->Frame());
    auto* version = about.findChild<QLabel*>(QStringLiteral("version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), "Tovik Version " TOVIK_VERSION_EXPECTED);
    EXPECT_EQ(CSplashWnd::Current()->accessibleDescription().toStdString(), "Version " TOVIK_VERSION_EXPECTED);
}

} // namespace
} // namespace tovik::test
