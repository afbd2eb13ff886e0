// The event log store: splitting, the cap, the reset and the line sinks.
#include "CHEventLog.h"
#include "CHLogStreamWriter.h"

#include <QCoreApplication>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>

using tovik::CHEventLog;

namespace {

QStringList numbered(int from, int to) {
    QStringList l;
    for (int i = from; i < to; ++i)
        l.append(QStringLiteral("line %1").arg(i));
    return l;
}

} // namespace

TEST(EventLogSplit, CrLfMakesTwoLinesAndTrailingLfAnEmptyLast) {
    CHEventLog log;
    log.AddText(QStringLiteral("A\r\nB"));
    log.AddText(QStringLiteral("a\r\n"));
    EXPECT_EQ(log.Lines(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("a"), QString()}));
}

TEST(EventLogSplit, LoneCarriageReturnIsOneEmptyLineNotAReset) {
    CHEventLog log;
    log.AddText(QStringLiteral("x"));
    log.AddText(QStringLiteral("\r"));
    EXPECT_EQ(log.Lines(), (QStringList{QStringLiteral("x"), QString()}));
}

TEST(EventLogSplit, CarriageReturnsInsideALineAreDropped) {
    CHEventLog log;
    log.AddText(QStringLiteral("ab\rc\r\r\nd\n\ne"));
    EXPECT_EQ(log.Lines(), (QStringList{QStringLiteral("abc"), QStringLiteral("d"), QString(), QStringLiteral("e")}));
}

TEST(EventLogReset, EmptyTextEmptiesTheLog) {
    CHEventLog log;
    for (int i = 0; i < 100; ++i)
        log << QStringLiteral("l");
    int resets = 0;
    QObject::connect(&log, &CHEventLog::wasReset, [&] { ++resets; });
    log.AddText(QString());
    EXPECT_EQ(log.Count(), 0);
    log << QStringLiteral("after") << QStringLiteral("");
    EXPECT_EQ(log.Count(), 0);
    EXPECT_EQ(resets, 2);
}

TEST(EventLogCap, OldestLinesGoFirstAndTheCapIsExact) {
    CHEventLog log;
    const QStringList all = numbered(0, 4003);
    for (const QString& l : all)
        log.AddText(l);
    ASSERT_EQ(log.Count(), 4000);
    EXPECT_EQ(log.Line(0), QStringLiteral("line 3"));
    EXPECT_EQ(log.Line(3999), QStringLiteral("line 4002"));
}

TEST(EventLogCap, OneTextLongerThanTheCapKeepsItsNewestLines) {
    CHEventLog log;
    log.AddText(QStringLiteral("old"));
    log.AddText(numbered(0, 4500).join(QLatin1Char('\n')));
    ASSERT_EQ(log.Count(), 4000);
    EXPECT_EQ(log.Line(0), QStringLiteral("line 500"));
    EXPECT_EQ(log.Line(3999), QStringLiteral("line 4499"));
}

TEST(EventLogCap, ViewsAreToldOneChangePerText) {
    CHEventLog log;
    log.AddText(numbered(0, 3999).join(QLatin1Char('\n')));
    QStringList events;
    QObject::connect(&log, &CHEventLog::linesChanged,
                     [&](int dropped, int appended) { events << QStringLiteral("%1 %2").arg(dropped).arg(appended); });
    log.AddText(QStringLiteral("a\nb\nc"));
    log.AddText(numbered(0, 4100).join(QLatin1Char('\n')));
    EXPECT_EQ(events, (QStringList{QStringLiteral("2 3"), QStringLiteral("4000 4000")}));
}

// Which line is selected after each text: the log's own rules, the same
// whether a view shows them or not.
TEST(EventLogSelection, FirstTextSelectsItsLastLineAndTheTailIsFollowed) {
    CHEventLog log;
    log.AddText(QStringLiteral("a\nb\nc"));
    EXPECT_EQ(log.Selected(), 2);
    log.AddText(QStringLiteral("x\ny"));
    EXPECT_EQ(log.Selected(), 4);
}

TEST(EventLogSelection, UsersLineStaysBelowTheCap) {
    CHEventLog log;
    log.AddText(numbered(0, 50).join(QLatin1Char('\n')));
    log.SetSelected(10);
    log.AddText(QStringLiteral("more"));
    EXPECT_EQ(log.Selected(), 10);
    log.SetSelected(-1);
    log.AddText(QStringLiteral("more"));
    EXPECT_EQ(log.Selected(), -1);
}

TEST(EventLogSelection, TrimMovesTheLineUpOrFallsToTheFirst) {
    CHEventLog log;
    log.AddText(numbered(0, 4000).join(QLatin1Char('\n')));
    log.SetSelected(3);
    log.AddText(QStringLiteral("a\nb"));
    ASSERT_EQ(log.Selected(), 1);
    EXPECT_EQ(log.Line(1), QStringLiteral("line 3"));

    log.SetSelected(0);
    log.AddText(QStringLiteral("c\nd"));
    EXPECT_EQ(log.Selected(), 0); // the selected line itself was dropped
    EXPECT_EQ(log.Line(0), QStringLiteral("line 4"));

    log.SetSelected(-1);
    log.AddText(QStringLiteral("e"));
    EXPECT_EQ(log.Selected(), 0); // at the cap, no selection becomes the first line
}

TEST(EventLogSelection, ResetClearsTheSelection) {
    CHEventLog log;
    log.AddText(numbered(0, 100).join(QLatin1Char('\n')));
    log.AddText(QString());
    EXPECT_EQ(log.Selected(), -1);
    log.AddText(QStringLiteral("banner"));
    EXPECT_EQ(log.Selected(), 0);
}

TEST(EventLogSinks, EverySinkSeesEveryLineInOrderEvenTrimmedOnes) {
    CHEventLog log;
    QStringList first, second;
    log.AddSink([&](const QString& l) { first << l; });
    const int id = log.AddSink([&](const QString& l) { second << l; });
    log.AddText(numbered(0, 4002).join(QLatin1Char('\n')));
    log.AddText(QString()); // a reset is no line
    log.RemoveSink(id);
    log.AddText(QStringLiteral("p\r\nq"));
    ASSERT_EQ(first.size(), 4004);
    EXPECT_EQ(first.front(), QStringLiteral("line 0"));
    EXPECT_EQ(first.mid(4002), (QStringList{QStringLiteral("p"), QStringLiteral("q")}));
    EXPECT_EQ(second.size(), 4002);
}

TEST(EventLogSinks, StreamWriterWritesOncePerEventLoopPass) {
    int argc = 1;
    char arg0[] = "t";
    char* argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    auto readAll = [f] {
        std::fflush(f);
        const long size = std::ftell(f);
        std::string s(static_cast<std::size_t>(size), '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(s.data(), 1, s.size(), f), s.size());
        std::fseek(f, 0, SEEK_END);
        return s;
    };
    {
        CHEventLog log;
        tovik::CHLogStreamWriter out(f);
        out.Attach(log);
        log.AddText(QStringLiteral("Received \r\n00010101\ns1f1w"));
        EXPECT_EQ(readAll(), ""); // nothing before the loop runs
        QCoreApplication::processEvents();
        EXPECT_EQ(readAll(), "Received \n00010101\ns1f1w\n");
        log.AddText(QStringLiteral("tail"));
    } // the writer flushes what it still holds when it goes
    EXPECT_EQ(readAll(), "Received \n00010101\ns1f1w\ntail\n");
    std::fclose(f);
}
