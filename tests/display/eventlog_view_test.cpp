// The event log on the form: which line is selected after each text, copy,
// clear and find, and how the view catches up with a flood of lines.
#include "CHEventLog.h"
#include "CHListBoxOld.h"
#include "../common/qt_helpers.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

using tovik::CHEventLog;
using tovik::CHListBoxOld;

namespace {

class EventLogView : public ::testing::Test {
protected:
    void fill(int lines) {
        for (int i = 0; i < lines; ++i)
            log.AddText(QStringLiteral("line %1").arg(i));
    }
    // What the view shows once it caught up on its own.
    int shown() {
        caughtUp();
        return view.SelectedLine();
    }
    void caughtUp() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !view.SyncPending(); }, 10000));
        QCoreApplication::processEvents();
    }

    QApplication& app = tovik::test::testApp<QApplication>();
    CHEventLog log;
    CHListBoxOld view{log};
};

} // namespace

TEST_F(EventLogView, SelectedLineMovesUpWithTheTrimOrFallsToTheFirst) {
    fill(4000);
    view.SelectLine(3);
    log.AddText(QStringLiteral("a\nb"));
    ASSERT_EQ(shown(), 1);
    EXPECT_EQ(view.model()->index(1, 0).data().toString(), QStringLiteral("line 3"));
    view.SelectLine(0);
    log.AddText(QStringLiteral("c\nd"));
    ASSERT_EQ(shown(), 0); // the selected line itself was dropped
    EXPECT_EQ(view.model()->index(0, 0).data().toString(), QStringLiteral("line 4"));
    view.SelectLine(-1);
    log.AddText(QStringLiteral("e"));
    EXPECT_EQ(shown(), 0); // at the cap, no selection becomes the first line
}

TEST_F(EventLogView, FollowsTheNewestLineUntilTheUserPicksAnotherAndAResetClearsIt) {
    log.AddText(QStringLiteral("a\nb\nc"));
    EXPECT_EQ(shown(), 2);
    log.AddText(QStringLiteral("x\ny"));
    EXPECT_EQ(shown(), 4);
    view.SelectLine(1);
    log.AddText(QStringLiteral("more"));
    EXPECT_EQ(shown(), 1);
    view.SelectLine(-1);
    log.AddText(QStringLiteral("more"));
    EXPECT_EQ(shown(), -1);
    view.SelectLine(2);
    log.AddText(QString());
    EXPECT_EQ(shown(), -1);
    log.AddText(QStringLiteral("banner"));
    EXPECT_EQ(shown(), 0);
}

// A full log keeps its 4000 rows: a burst changes their texts in one
// catch-up, with no rows removed or inserted (which would lay all rows out
// again).
TEST_F(EventLogView, AThousandTextsReachTheViewAsOneChange) {
    fill(4000);
    view.Sync();
    int removes = 0, inserts = 0, catchUps = 0;
    QObject::connect(view.model(), &QAbstractItemModel::rowsRemoved, [&] { ++removes; });
    QObject::connect(view.model(), &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    QObject::connect(&view, &CHListBoxOld::caughtUp, [&] { ++catchUps; });
    for (int i = 0; i < 1000; ++i)
        log.AddText(QStringLiteral("burst %1").arg(i));
    EXPECT_EQ(view.model()->rowCount(), 4000);
    EXPECT_EQ(shown(), 3999);
    EXPECT_EQ(removes, 0);
    EXPECT_EQ(inserts, 0);
    EXPECT_EQ(catchUps, 1);
    EXPECT_EQ(view.model()->index(3999, 0).data().toString(), QStringLiteral("burst 999"));
    EXPECT_EQ(view.model()->index(0, 0).data().toString(), QStringLiteral("line 1000"));
}

TEST_F(EventLogView, UsersClickIsTheLineTheLogKeeps) {
    fill(4000);
    view.resize(300, 200);
    view.show();
    caughtUp();
    view.scrollToTop();
    const QPoint p = view.visualRect(view.model()->index(5, 0)).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, p);
    ASSERT_EQ(view.SelectedLine(), 5);
    log.AddText(QStringLiteral("a\nb\nc"));
    EXPECT_EQ(shown(), 2);
    EXPECT_EQ(view.model()->index(2, 0).data().toString(), QStringLiteral("line 5"));
}

// The engine adds texts at its own pace while the view catches up on a timer:
// each time it does, it shows an unbroken run of the newest lines, at most
// the cap, ending with the newest, selected and on screen; and it catches up
// at most once per frame, not once per text.
TEST_F(EventLogView, FloodCaughtUpInFramesWithNoLineLostOrReordered) {
    view.resize(300, 150);
    view.show();
    int next = 0;
    int catchUps = 0;
    int broken = 0;
    QObject::connect(&view, &CHListBoxOld::caughtUp, [&] {
        ++catchUps;
        const int rows = view.model()->rowCount();
        const int first = next - rows; // the newest `rows` lines, oldest first
        bool ok = rows <= CHEventLog::kMaxLines && first >= 0;
        for (int r = 0; ok && r < rows; ++r)
            ok = view.model()->index(r, 0).data().toString() == QStringLiteral("line %1").arg(first + r);
        const QModelIndex last = view.model()->index(rows - 1, 0);
        ok = ok && view.SelectedLine() == rows - 1 &&
             view.viewport()->rect().contains(view.visualRect(last).center());
        broken += !ok;
    });
    QElapsedTimer clock;
    clock.start();
    // Texts of one to three lines, a pass of the event loop after each few,
    // until well past the cap.
    while (next < 3 * CHEventLog::kMaxLines || catchUps < 3) {
        for (int t = 0; t < 5; ++t) {
            const int lines = 1 + next % 3;
            QStringList text;
            for (int i = 0; i < lines; ++i)
                text.append(QStringLiteral("line %1").arg(next++));
            log.AddText(text.join(QLatin1Char('\n')));
        }
        QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    caughtUp();
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(view.model()->rowCount(), CHEventLog::kMaxLines);
    EXPECT_EQ(shown(), CHEventLog::kMaxLines - 1);
    EXPECT_LE(catchUps, elapsed / 16 + 2) << next << " lines";
    EXPECT_GE(catchUps, 3);
}

TEST_F(EventLogView, CopyTakesTheSelectedLinesInLogOrder) {
    fill(10);
    view.Sync();
    view.selectionModel()->select(view.model()->index(7, 0), QItemSelectionModel::ClearAndSelect);
    view.selectionModel()->select(view.model()->index(2, 0), QItemSelectionModel::Select);
    view.CopySelection();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("line 2\nline 7"));
}

TEST_F(EventLogView, FindWrapsAroundIgnoresCaseAndKeepsSelectionWhenMissing) {
    log.AddText(QStringLiteral("Received \nS1F1W\nSend \ns1f2\nreceived again"));
    view.SelectLine(1);
    EXPECT_TRUE(view.FindNext(QStringLiteral("RECEIVED")));
    EXPECT_EQ(shown(), 4);
    EXPECT_TRUE(view.FindNext(QStringLiteral("received")));
    EXPECT_EQ(shown(), 0);
    EXPECT_TRUE(view.FindNext(QStringLiteral("s1f"), true));
    EXPECT_EQ(shown(), 3);
    EXPECT_FALSE(view.FindNext(QStringLiteral("s9f9")));
    EXPECT_EQ(shown(), 3);
}

TEST_F(EventLogView, CtrlFOpensTheFindBoxAndEnterFinds) {
    log.AddText(QStringLiteral("alpha\nbeta\ngamma"));
    view.show();
    view.SelectLine(0);
    QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(view.FindBox()->isVisible());
    QTest::keyClicks(view.FindBox(), QStringLiteral("gam"));
    QTest::keyClick(view.FindBox(), Qt::Key_Return);
    EXPECT_EQ(shown(), 2);
}

