// The event log store: splitting, the cap, the reset and the line sinks.
#include "CHEventLog.h"
#include "CHLogStreamWriter.h"
#include "../common/qt_helpers.h"

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

// Texts given one after another, and the lines they make.
TEST(EventLogSplit, LineBreaksAndCarriageReturns) {
    const struct {
        QStringList texts;
        QStringList lines;
    } cases[] = {
        // CR LF ends a line; a trailing LF leaves an empty last line.
        {{QStringLiteral("A\r\nB"), QStringLiteral("a\r\n")},
         {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("a"), QString()}},
        // A lone CR is one empty line, not a reset.
        {{QStringLiteral("x"), QStringLiteral("\r")}, {QStringLiteral("x"), QString()}},
        // CRs inside a line are dropped.
        {{QStringLiteral("ab\rc\r\r\nd\n\ne")},
         {QStringLiteral("abc"), QStringLiteral("d"), QString(), QStringLiteral("e")}},
    };
    for (const auto& c : cases) {
        CHEventLog log;
        for (const QString& t : c.texts)
            log.AddText(t);
        EXPECT_EQ(log.Lines(), c.lines) << c.texts.join(u'|').toStdString();
    }
}

TEST(EventLogReset, EmptyTextEmptiesTheLogAndIsNoLineForSinks) {
    CHEventLog log;
    QStringList sunk;
    const int id = log.AddSink([&](const QString& l) { sunk << l; });
    for (int i = 0; i < 100; ++i)
        log << QStringLiteral("l");
    int resets = 0;
    QObject::connect(&log, &CHEventLog::wasReset, [&] { ++resets; });
    log.AddText(QString());
    EXPECT_EQ(log.Count(), 0);
    log << QStringLiteral("after") << QStringLiteral("");
    EXPECT_EQ(log.Count(), 0);
    EXPECT_EQ(resets, 2);
    log.RemoveSink(id);
    log << QStringLiteral("unseen");
    EXPECT_EQ(sunk.size(), 101);
    EXPECT_EQ(sunk.last(), QStringLiteral("after"));
}

TEST(EventLogCap, OneTextLongerThanTheCapKeepsItsNewestLines) {
    CHEventLog log;
    log.AddText(QStringLiteral("old"));
    log.AddText(numbered(0, 4500).join(QLatin1Char('\n')));
    ASSERT_EQ(log.Count(), 4000);
    EXPECT_EQ(log.Line(0), QStringLiteral("line 500"));
    EXPECT_EQ(log.Line(3999), QStringLiteral("line 4499"));
}

// The writer's file, read back whole while it stays open.
struct StreamWriter : ::testing::Test {
    std::FILE* f = std::tmpfile();
    void SetUp() override {
        tovik::test::testApp<QCoreApplication>();
        ASSERT_NE(f, nullptr);
    }
    void TearDown() override {
        if (f)
            std::fclose(f);
    }
    std::string written() {
        std::fflush(f);
        const long size = std::ftell(f);
        std::string s(static_cast<std::size_t>(size), '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(s.data(), 1, s.size(), f), s.size());
        std::fseek(f, 0, SEEK_END);
        return s;
    }
};

// Texts of one to seven lines, CRs sprinkled in, far past the cap: the store
// must hold exactly the newest lines in order, tell views what left and came,
// and hand sinks every line, however the lines wrap around its storage.
TEST(EventLogCap, LongRunMatchesAPlainListOfTheNewestLines) {
    CHEventLog log;
    QStringList model, sunk, expectedSunk;
    int dropped = 0, appended = 0;
    log.AddSink([&](const QString& l) { sunk << l; });
    QObject::connect(&log, &CHEventLog::linesChanged, [&](int d, int a) {
        dropped += d;
        appended += a;
    });
    int n = 0;
    for (int text = 0; text < 3000; ++text) {
        QString t;
        const int lines = 1 + text % 7;
        for (int i = 0; i < lines; ++i) {
            const QString line = QStringLiteral("t%1 l%2 ").arg(text).arg(i) + QString(n++ % 40, u'x');
            expectedSunk << line;
            model << line;
            t += line.left(3) + QLatin1Char('\r') + line.mid(3);
            if (i + 1 < lines)
                t += QStringLiteral("\r\n");
        }
        log.AddText(t);
        if (model.size() > CHEventLog::kMaxLines)
            model.erase(model.begin(), model.end() - CHEventLog::kMaxLines);
        if (text % 500 == 0 || text > 2990) {
            ASSERT_EQ(log.Lines(), model) << "after text " << text;
        }
    }
    EXPECT_EQ(sunk, expectedSunk);
    EXPECT_EQ(appended - dropped, CHEventLog::kMaxLines);
    EXPECT_EQ(log.Line(CHEventLog::kMaxLines - 1), model.last());
}

TEST(EventLogCap, ALineHeldElsewhereKeepsItsTextWhenItsPlaceIsReused) {
    CHEventLog log;
    log.AddText(numbered(0, CHEventLog::kMaxLines).join(QLatin1Char('\n')));
    const QString held = log.Line(0);
    const QString heldLast = log.Line(CHEventLog::kMaxLines - 1);
    for (int i = 0; i < CHEventLog::kMaxLines; ++i)
        log.AddText(QStringLiteral("new %1").arg(i));
    EXPECT_EQ(held, QStringLiteral("line 0"));
    EXPECT_EQ(heldLast, QStringLiteral("line 3999"));
    EXPECT_EQ(log.Line(0), QStringLiteral("new 0"));
}

TEST(EventLogCap, OverlongLineIsClippedInTheListButWholeForSinks) {
    CHEventLog log;
    QStringList sunk;
    log.AddSink([&](const QString& l) { sunk << l; });
    const QString longLine(CHEventLog::kMaxLineChars + 10, u'b');
    log.AddText(QStringLiteral("a\n") + longLine + QStringLiteral("\nc"));
    log.AddText(QStringLiteral("short")); // may take a slot that held long text
    ASSERT_EQ(log.Count(), 4);
    EXPECT_EQ(log.Line(1).size(), CHEventLog::kMaxLineChars);
    EXPECT_TRUE(log.Line(1).endsWith(QStringLiteral("bbb...")));
    EXPECT_EQ(log.Line(2), QStringLiteral("c"));
    EXPECT_EQ(log.Line(3), QStringLiteral("short"));
    EXPECT_EQ(sunk.at(1), longLine);
}

TEST_F(StreamWriter, WritesUtf8OncePerPassAndBoundsWhatItGathers) {
    std::string first;
    {
        CHEventLog log;
        tovik::CHLogStreamWriter out(f);
        out.Attach(log);
        log.AddText(QStringLiteral("<a'Grüße'>\r\nplain\n\u2713 \U0001F600"));
        EXPECT_EQ(written(), ""); // nothing before the loop runs
        QCoreApplication::processEvents();
        first = written();
        EXPECT_EQ(first, "<a'Gr\xc3\xbc\xc3\x9f" "e'>\nplain\n\xe2\x9c\x93 \xf0\x9f\x98\x80\n");

        // A flood within one pass goes out before the pass ends, whole lines
        // only, and nothing is lost or doubled.
        const QString line(999, u'z');
        for (int i = 0; i < 3000; ++i)
            log.AddText(line);
        const std::string early = written();
        EXPECT_GT(early.size(), std::size_t{1} << 20);
        EXPECT_EQ(early.back(), '\n');
        log.AddText(QStringLiteral("tail"));
    } // the writer flushes what it still holds when it goes
    const std::string all = written();
    EXPECT_EQ(all.size(), first.size() + 3000 * 1000u + 5);
    EXPECT_TRUE(all.ends_with("z\ntail\n"));
}
