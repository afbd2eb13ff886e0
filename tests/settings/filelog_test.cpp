// The file log as found on disk: its lines, its rotation, its back-ups and
// what the event log is told when the file cannot be written.
#include "../common/qt_helpers.h"

#include "CHFileLog.h"

#include <QTemporaryDir>

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using tovik::test::readAll;
using tovik::test::writeAll;

namespace {

struct FileLogTest : ::testing::Test {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
};

TEST_F(FileLogTest, LinesAreSplitLikeTheEventLogAndWrittenAtOnce) {
    CHFileLog log;
    const CHFileLog::Config cfg{path("t.log"), 1024, 1};
    EXPECT_FALSE(log.append(cfg, QStringLiteral("Received \r\n0001810100000000002a\ns1f1w")));
    // Visible to a reader before the log is closed: nothing waits in a buffer.
    EXPECT_EQ(readAll(cfg.path), QByteArray("Received \n0001810100000000002a\ns1f1w\n"));
    EXPECT_FALSE(log.append(cfg, QStringLiteral("end\n")));
    EXPECT_FALSE(log.append(cfg, QStringLiteral("\r")));
    EXPECT_FALSE(log.append(cfg, QStringLiteral("caf\u00e9")));
    EXPECT_EQ(readAll(cfg.path),
              QByteArray("Received \n0001810100000000002a\ns1f1w\nend\n\n\ncaf\xc3\xa9\n"));
}

TEST_F(FileLogTest, AppendsToAnExistingFile) {
    writeAll(path("t.log"), "old\n");
    CHFileLog log;
    log.append({path("t.log"), 1, 1}, QStringLiteral("new"));
    EXPECT_EQ(readAll(path("t.log")), QByteArray("old\nnew\n"));
}

TEST_F(FileLogTest, RotatesBeforePassingTheLimitAndKeepsTheBackupCount) {
    CHFileLog log;
    const CHFileLog::Config cfg{path("t.log"), 1, 3};
    const QString line100 = QString(99, QLatin1Char('x')); // 100 bytes with its line feed
    for (int i = 0; i < 10; ++i)                           // 1000 bytes: fits in 1 KB
        ASSERT_FALSE(log.append(cfg, QStringLiteral("%1").arg(i) + line100.mid(1)));
    EXPECT_EQ(files(), QStringList{QStringLiteral("t.log")});
    EXPECT_EQ(QFileInfo(cfg.path).size(), 1000);

    ASSERT_FALSE(log.append(cfg, QStringLiteral("A") + line100.mid(1)));
    EXPECT_EQ(files(), (QStringList{QStringLiteral("t.log"), QStringLiteral("t.log.1")}));
    EXPECT_EQ(QFileInfo(cfg.path + QStringLiteral(".1")).size(), 1000);
    EXPECT_TRUE(readAll(cfg.path).startsWith("Ax"));

    // Three more full files: the oldest falls off, three back-ups stay.
    for (const char* tag : {"B", "C", "D"}) {
        for (int i = 0; i < 9; ++i)
            log.append(cfg, QStringLiteral("f") + line100.mid(1));
        log.append(cfg, QLatin1String(tag) + line100.mid(1));
    }
    EXPECT_EQ(files(), (QStringList{QStringLiteral("t.log"), QStringLiteral("t.log.1"),
                                    QStringLiteral("t.log.2"), QStringLiteral("t.log.3")}));
    EXPECT_TRUE(readAll(cfg.path).startsWith("Dx"));
    EXPECT_TRUE(readAll(cfg.path + QStringLiteral(".1")).startsWith("Cx"));
    EXPECT_TRUE(readAll(cfg.path + QStringLiteral(".2")).startsWith("Bx"));
    EXPECT_TRUE(readAll(cfg.path + QStringLiteral(".3")).startsWith("Ax"));
    for (const QString& f : files())
        EXPECT_LE(QFileInfo(dir.filePath(f)).size(), 1024) << f.toStdString();
}

TEST_F(FileLogTest, NoBackupsStartsTheFileAfresh) {
    CHFileLog log;
    const CHFileLog::Config cfg{path("t.log"), 1, 0};
    for (int i = 0; i < 11; ++i)
        log.append(cfg, QString(99, QLatin1Char('a' + i)));
    EXPECT_EQ(files(), QStringList{QStringLiteral("t.log")});
    EXPECT_EQ(readAll(cfg.path), QByteArray(99, 'k') + '\n');
}

TEST_F(FileLogTest, ALineLargerThanTheLimitIsStillWrittenWhole) {
    CHFileLog log;
    const CHFileLog::Config cfg{path("t.log"), 0, -5}; // read as 1 KB, no back-ups
    log.append(cfg, QStringLiteral("first"));
    log.append(cfg, QString(3000, QLatin1Char('z')));
    EXPECT_EQ(readAll(cfg.path).size(), 3001);
    log.append(cfg, QStringLiteral("next"));
    EXPECT_EQ(readAll(cfg.path), QByteArray("next\n"));
}

TEST_F(FileLogTest, UnopenableFileIsReportedOnceAndTheLogGoesOn) {
    CHFileLog log;
    const CHFileLog::Config bad{path("missing/dir/t.log"), 1024, 1};
    const auto first = log.append(bad, QStringLiteral("a"));
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->contains(bad.path));
    EXPECT_FALSE(log.append(bad, QStringLiteral("b")));
    // The folder appears: the log resumes; a later failure is reported again.
    QDir().mkpath(path("missing/dir"));
    EXPECT_FALSE(log.append(bad, QStringLiteral("c")));
    EXPECT_EQ(readAll(bad.path), QByteArray("c\n"));
    log.close();
    QDir(path("missing")).removeRecursively();
    EXPECT_TRUE(log.append(bad, QStringLiteral("d")).has_value());
}

} // namespace
