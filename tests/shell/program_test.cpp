// The real tovik executable: its one-shot options, and a windowed start on
// the offscreen platform that opens the port of its settings file.
#include "shell_fixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

namespace tovik::test {
namespace {

class Program : public ShellFixture {
protected:
    // Runs tovik to its end; returns its exit code, output in out.
    int run(const QStringList& args,
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TOVIK_EXE), args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        out = p.readAllStandardOutput();
        err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }
    static bool waitConnect(int port, QProcess& p) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000 && p.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            if (socket.waitForConnected(500))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    QByteArray out, err;
};

TEST_F(Program, VersionPrintsTheBuildVersion) {
    EXPECT_EQ(run({QStringLiteral("--version")}), 0);
    EXPECT_EQ(out, QByteArray("tovik ") + TOVIK_VERSION_EXPECTED + "\n");
}

TEST_F(Program, HelpNamesEveryOption) {
    EXPECT_EQ(run({QStringLiteral("--help")}), 0);
    for (const char* option : {"--headless", "--windowed", "--no-splash", "--version", "DOCUMENT"})
        EXPECT_TRUE(out.contains(option)) << option;
}

TEST_F(Program, UnknownOptionIsRefused) {
    EXPECT_EQ(run({QStringLiteral("--frobnicate")}), 2);
    EXPECT_TRUE(err.contains("unknown option '--frobnicate'"));
}

TEST_F(Program, WindowedStartOpensThePortAndWritesTheWindowAtTheEnd) {
    const int port = freePort();
    const QString doc = path(QStringLiteral("equipment.tvkm"));
    write(doc, kDocument);
    write(path(QStringLiteral("equipment.ini")), settings(port));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(path(QStringLiteral("out.txt")));
    p.setStandardErrorFile(path(QStringLiteral("err.txt")));
    p.start(QStringLiteral(TOVIK_EXE), {QStringLiteral("--no-splash"), doc});
    ASSERT_TRUE(p.waitForStarted());
    EXPECT_TRUE(waitConnect(port, p)) << read(path(QStringLiteral("err.txt"))).toStdString();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    // Windowed: the log is on screen, not on standard output.
    EXPECT_FALSE(read(path(QStringLiteral("out.txt"))).contains("HSMS port has been opened"));
    EXPECT_TRUE(read(path(QStringLiteral("equipment.ini"))).contains("WindowRight="));
}

TEST_F(Program, WithoutADisplayItRunsHeadless) {
    const int port = freePort();
    const QString doc = path(QStringLiteral("equipment.tvkm"));
    write(doc, kDocument);
    write(path(QStringLiteral("equipment.ini")), settings(port));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), dir.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(path(QStringLiteral("out.txt")));
    p.setStandardErrorFile(path(QStringLiteral("err.txt")));
    p.start(QStringLiteral(TOVIK_EXE), {doc});
    ASSERT_TRUE(p.waitForStarted());
    EXPECT_TRUE(waitConnect(port, p));
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(read(path(QStringLiteral("out.txt")))
                    .contains("HSMS port has been opened successfully.\n"));
    EXPECT_TRUE(read(path(QStringLiteral("out.txt"))).endsWith("Closed HSMS port\n"));
    EXPECT_TRUE(read(path(QStringLiteral("err.txt"))).contains("running headless"));
}

} // namespace
} // namespace tovik::test
