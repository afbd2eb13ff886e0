// The real tovik executable as users start it: its one-shot options and exit
// codes, a headless run ended by SIGINT, and a windowed start on the offscreen
// platform ended by SIGTERM.
#include "shell_fixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

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
    // Starts tovik on line.tvkm, waits for its port and stops it with sig;
    // returns its exit code (-1 when it did not end), output in out and err.
    int servesThenStops(QProcessEnvironment env, const QStringList& options, int sig) {
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
        ::kill(static_cast<pid_t>(p.processId()), sig);
        const bool stopped = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
        out = read(path("out.txt"));
        err = read(path("err.txt"));
        EXPECT_TRUE(served) << err.toStdString();
        return stopped ? p.exitCode() : -1;
    }
    QByteArray out, err;
};

TEST_F(Program, OneShotOptionsAndTheirExitCodes) {
    EXPECT_EQ(run({QStringLiteral("--version")}), 0);
    EXPECT_EQ(out, QByteArray("tovik ") + TOVIK_VERSION_EXPECTED + "\n");
    EXPECT_EQ(run({QStringLiteral("--help")}), 0);
    for (const char* option : {"--headless", "--windowed", "--no-splash", "--script", "--version", "DOCUMENT"})
        EXPECT_TRUE(out.contains(option)) << option;
    EXPECT_EQ(run({QStringLiteral("--frobnicate")}), 2);
    EXPECT_TRUE(err.contains("unknown option '--frobnicate'"));
    EXPECT_EQ(out, "");
}

// The user named a file that is not there: one line, the end, and no
// settings file beside the wrong path.
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

// Without a display it runs headless, the log on standard output; SIGINT
// ends the run with status 0 and the process end closes the port, unlogged.
// (SIGHUP's reload is tested with a peer in tests/engine.)
TEST_F(Program, WithoutADisplayItRunsHeadlessUntilSigint) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    EXPECT_EQ(servesThenStops(env, {}, SIGINT), 0);
    EXPECT_TRUE(out.contains("HSMS port has been opened successfully.\n"));
    EXPECT_FALSE(out.contains("Closed HSMS port"));
    EXPECT_TRUE(err.contains("running headless"));
}

// As a desktop ends a session: SIGTERM, and the window still writes its rectangle.
TEST_F(Program, WindowedStartOpensThePortAndWritesTheWindowAtTheEnd) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    EXPECT_EQ(servesThenStops(env, {QStringLiteral("--no-splash")}, SIGTERM), 0);
    // Windowed: the log is on screen, not on standard output.
    EXPECT_FALSE(out.contains("HSMS port has been opened"));
    EXPECT_TRUE(read(ini()).contains("WindowRight="));
}

} // namespace
} // namespace tovik::test
