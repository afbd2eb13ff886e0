// The real tovik executable as users start it: its one-shot options and exit
// codes, a headless run ended by SIGINT, and a windowed start on the offscreen
// platform ended by SIGTERM. (SIGHUP's reload is tested with a peer in
// tests/engine.)
#include "../common/hsms_peer.h"
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
    // Runs tovik to its end; given a port, stops it with sig once the port
    // serves. Returns the exit code (-1 when it did not end normally),
    // output in out and err.
    int run(const QStringList& args, int port = 0, int sig = 0) {
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path()); // or Qt warns on stderr
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TOVIK_EXE), args);
        QElapsedTimer t;
        t.start();
        while (port && !serves(port) && t.elapsed() < 20000 && p.state() != QProcess::NotRunning)
            QThread::msleep(50);
        if (port)
            ::kill(static_cast<pid_t>(p.processId()), sig);
        const bool ended = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
        if (!ended)
            p.kill();
        out = p.readAllStandardOutput();
        err = p.readAllStandardError();
        return ended ? p.exitCode() : -1;
    }
    static bool serves(int port) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        return socket.waitForConnected(500);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QByteArray out, err;
};

TEST_F(Program, OneShotOptionsAndTheirExitCodes) {
    EXPECT_EQ(run({QStringLiteral("--version")}), 0);
    EXPECT_EQ(out, QByteArray("tovik ") + TOVIK_VERSION_EXPECTED + "\n");
    EXPECT_EQ(run({QStringLiteral("--help")}), 0);
    for (const char* option :
         {"--headless", "--windowed", "--no-splash", "--script", "--set SECTION.VALUE=TEXT", "--version", "DOCUMENT"})
        EXPECT_TRUE(out.contains(option)) << option;
    EXPECT_EQ(run({QStringLiteral("--frobnicate")}), 2);
    EXPECT_TRUE(err.contains("unknown option '--frobnicate'"));
    // A document that is not there: one line, and no settings file beside
    // the wrong path.
    EXPECT_EQ(run({QStringLiteral("--headless"), path("gone.tvkm")}), 1);
    EXPECT_EQ(err, "tovik: Cannot open " + path("gone.tvkm").toUtf8() + ": No such file or directory\n");
    EXPECT_FALSE(QFile::exists(path("gone.ini")));
}

// --set over the settings file: the port and device id of this run come
// from the command line, each logged once; the file keeps its own values.
TEST_F(Program, SetOverridesTheSettingsFileForThisRun) {
    const int filePort = writeLine("CheckDeviceID=1");
    const int port = freePort();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TOVIK_EXE), {QStringLiteral("--headless"), QStringLiteral("--set"),
                                        QStringLiteral("hsms.localportnumber=%1").arg(port),
                                        QStringLiteral("--set"), QStringLiteral("DeviceID=9"), doc()});
    hsmstest::RawHost host;
    ASSERT_TRUE(host.connect(port));
    ASSERT_TRUE(host.send(hsmstest::header(0xffff, 0, 0, 1, 1)));
    EXPECT_EQ(host.recv(), hsmstest::header(0xffff, 0, 0, 1, 2));
    ASSERT_TRUE(host.send(hsmstest::header(9, 0x81, 1, 2)));
    EXPECT_EQ(host.recv().value_or("").substr(0, 20), hsmstest::header(9, 1, 2, 2));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const QByteArray log = p.readAllStandardOutput();
    for (const QByteArray& line : {"Setting HSMS.LocalPortNumber=" + QByteArray::number(port),
                                  QByteArray("Setting Preferences.DeviceID=9")})
        EXPECT_EQ(log.count(line + " from the command line (not saved)."), 1) << log.toStdString();
    const QByteArray after = readAll(ini());
    EXPECT_TRUE(after.contains("\nDeviceID=7\n") && after.contains("LocalPortNumber=" + QByteArray::number(filePort)))
        << after.toStdString();
}

// Each wrong --set ends the start with status 2 and one line naming it.
TEST_F(Program, WrongSetEndsTheStartWithOneLine) {
    writeLine();
    const std::pair<const char*, const char*> cases[] = {
        {"Nowhere.DeviceID=1", "tovik: --set Nowhere.DeviceID=1: unknown section [Nowhere]\n"},
        {"HSMS.DeviceID=1", "tovik: --set HSMS.DeviceID=1: unknown value DeviceID in [HSMS]\n"},
        {"Colour=red", "tovik: --set Colour=red: unknown value Colour\n"},
        {"T3=45s", "tovik: --set T3=45s: TimeOut.T3 cannot take '45s' (a whole number)\n"},
        {"HSMS.Server=2", "tovik: --set HSMS.Server=2: HSMS.Server cannot take '2' (0 or 1)\n"},
        {"DeviceID", "tovik: --set DeviceID: give SECTION.VALUE=TEXT\n"},
        {nullptr, "tovik: --set needs SECTION.VALUE=TEXT\n"},
    };
    for (const auto& [set, line] : cases) {
        QStringList args{QStringLiteral("--headless"), doc(), QStringLiteral("--set")};
        if (set)
            args.append(QString::fromLatin1(set));
        EXPECT_EQ(run(args), 2) << set;
        EXPECT_EQ(err, line);
        EXPECT_TRUE(out.isEmpty()) << set;
    }
}

// Without a display it runs headless, the log on standard output; SIGINT
// ends the run with status 0.
TEST_F(Program, WithoutADisplayItRunsHeadlessUntilSigint) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    EXPECT_EQ(run({doc()}, writeLine(), SIGINT), 0);
    EXPECT_TRUE(out.contains("HSMS port has been opened successfully.\n"));
    EXPECT_TRUE(err.contains("running headless"));
}

// As a desktop ends a session: SIGTERM, and the window still writes its rectangle.
TEST_F(Program, WindowedStartOpensThePortAndWritesTheWindowAtTheEnd) {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    EXPECT_EQ(run({QStringLiteral("--no-splash"), doc()}, writeLine(), SIGTERM), 0);
    EXPECT_TRUE(readAll(ini()).contains("WindowRight="));
}

} // namespace
} // namespace tovik::test
