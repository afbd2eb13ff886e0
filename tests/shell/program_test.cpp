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
    // Starts tovik on line.tvkm, waits for its port, stops it as a desktop
    // does; out and err hold what it wrote.
    bool servesThenStops(QProcessEnvironment env, const QStringList& options) {
        const int port = writeLine();
        env.insert(QStringLiteral("HOME"), dir.path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(path("out.txt"));
        p.setStandardErrorFile(path("err.txt"));
        p.start(QStringLiteral(TOVIK_EXE), options + QStringList{doc()});
        bool served = false;
        QElapsedTimer t;
        t.start();
        p.waitForStarted();
        while (!served && t.elapsed() < 20000 && p.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            served = socket.waitForConnected(500);
            QThread::msleep(served ? 0 : 50);
        }
        p.terminate();
        const bool stopped = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
        out = read(path("out.txt"));
        err = read(path("err.txt"));
        EXPECT_TRUE(served) << err.toStdString();
        return served && stopped && p.exitCode() == 0;
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    ASSERT_TRUE(servesThenStops(env, {QStringLiteral("--no-splash")}));
    // Windowed: the log is on screen, not on standard output.
    EXPECT_FALSE(out.contains("HSMS port has been opened"));
    EXPECT_TRUE(read(ini()).contains("WindowRight="));
}

TEST_F(Program, MissingDocumentEndsTheRunWithOneLine) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path()); // or Qt warns on stderr
    EXPECT_EQ(run({QStringLiteral("--headless"), path("gone.tvkm")}, env), 1);
    EXPECT_EQ(err, "tovik: Cannot open " + path("gone.tvkm").toUtf8() + ": No such file or directory\n");
    EXPECT_EQ(out, "");
    EXPECT_FALSE(QFile::exists(path("gone.ini")));
}

TEST_F(Program, WithoutADisplayItRunsHeadless) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    ASSERT_TRUE(servesThenStops(env, {}));
    EXPECT_TRUE(out.contains("HSMS port has been opened successfully.\n"));
    EXPECT_FALSE(out.contains("Closed HSMS port")); // the process end closes it, unlogged
    EXPECT_TRUE(err.contains("running headless"));
}

} // namespace
} // namespace tovik::test
