// tovik-fleet as users start it: five equipments from one model, each on its
// own port with its own device id answering a raw host; one killed is
// started again while the others keep their links; SIGTERM stops them all.
#include "../common/hsms_peer.h"
#include "../common/qt_helpers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <random>

namespace {

using hsmstest::header;
using hsmstest::RawHost;

// count ports in a row that nobody listens on now, below the range the
// kernel hands out to outgoing connections: another test's client could take
// one of those before the equipment listens on it.
int freePortsInARow(int count) {
    std::mt19937 random(static_cast<unsigned>(::getpid()));
    int ephemeral = 32768;
    if (std::FILE* range = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(range, "%d", &ephemeral) != 1)
            ephemeral = 32768;
        std::fclose(range);
    }
    const int low = 10000;
    const int span = std::max(ephemeral - count - low, 1);
    for (;;) {
        const int base = low + static_cast<int>(random() % static_cast<unsigned>(span));
        bool free = true;
        for (int i = 0; i < count && free; ++i) {
            RawHost probe;
            free = !probe.connect(base + i, 1);
        }
        if (free)
            return base;
    }
}

// Nothing here waits a fixed time for the programs: on a loaded machine a
// start or a reply takes many times its usual time. Each step waits for what
// it needs (a status line, a port's log line) up to this.
constexpr int kPatienceMs = 60000;

// Selects, then asks S1F1 of device id: true when S1F2 comes back for it.
bool selectAndAsk(RawHost& host, unsigned device, unsigned system) {
    if (!host.send(header(0xffff, 0, 0, system, 1)) || host.recv(kPatienceMs) != header(0xffff, 0, 0, system, 2))
        return false;
    return host.send(header(device, 0x81, 1, system + 1)) &&
           host.recv(kPatienceMs).value_or("").substr(0, 20) == header(device, 1, 2, system + 1);
}

struct FleetRun {
    QProcess process;
    QByteArray out;
    qsizetype matchEnd = 0; // where the last match of waitFor ended
    // Reads the output until pattern matches at or after `from`; the match's
    // first group.
    QString waitFor(const QString& pattern, qsizetype from = 0) {
        const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
        QElapsedTimer t;
        t.start();
        for (;;) {
            const QRegularExpressionMatch m = re.match(QString::fromUtf8(out), from);
            if (m.hasMatch()) {
                matchEnd = m.capturedEnd();
                return m.captured(1);
            }
            if (t.elapsed() > kPatienceMs)
                return {};
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
    }
};

TEST(Fleet, FiveEquipmentsAnswerOneKilledIsRestartedSigtermStopsAll) {
    QTemporaryDir dir;
    ASSERT_TRUE(tovik::test::writeAll(dir.filePath(QStringLiteral("model.tvkm")),
                                      "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n<a'EQ'>\r\nEnd List\r\n\r\n"));
    ASSERT_TRUE(tovik::test::writeAll(dir.filePath(QStringLiteral("model.ini")),
                                      "[Preferences]\nProtocol=0\nDeviceID=1\nCheckDeviceID=1\n"
                                      "[HSMS]\nServer=1\nIPAddress=127.0.0.1\nLocalPortNumber=1\n"));
    ASSERT_TRUE(tovik::test::writeAll(dir.filePath(QStringLiteral("model.js")), "'use strict';\n"));
    const int base = freePortsInARow(5);
    FleetRun fleet;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    env.remove(QStringLiteral("QV4_FORCE_INTERPRETER"));
    env.remove(QStringLiteral("QV4_JIT_CALL_THRESHOLD"));
    fleet.process.setProcessEnvironment(env);
    fleet.process.start(QStringLiteral(TOVIK_FLEET_EXE),
                        {QStringLiteral("--count"), QStringLiteral("5"), QStringLiteral("--base-port"),
                         QString::number(base), QStringLiteral("--device-id-from"), QStringLiteral("20"),
                         QStringLiteral("--tovik"), QStringLiteral(TOVIK_EXE),
                         dir.filePath(QStringLiteral("model.tvkm"))});
    // Each equipment's own line says its port listens (the launcher puts
    // [i] before it): then a host connects at once.
    const auto listening = [&](unsigned i, qsizetype from) {
        return !fleet.waitFor(QStringLiteral("^(\\[%1\\] HSMS port has been opened successfully\\.)$").arg(i), from)
                    .isEmpty();
    };
    std::vector<std::unique_ptr<RawHost>> hosts;
    for (unsigned i = 0; i < 5; ++i) {
        ASSERT_TRUE(listening(i, 0)) << i << fleet.out.toStdString();
        hosts.push_back(std::make_unique<RawHost>());
        ASSERT_TRUE(hosts.back()->connect(base + static_cast<int>(i), 1)) << i;
        EXPECT_TRUE(selectAndAsk(*hosts.back(), 20 + i, 10)) << i;
    }
    const QString line2 = QStringLiteral("^tovik-fleet: equipment 2 \\(port %1, device id 22\\): ").arg(base + 2);
    const QString pid = fleet.waitFor(line2 + QStringLiteral("started, pid (\\d+)$"));
    ASSERT_FALSE(pid.isEmpty()) << fleet.out.toStdString();
    // Equipments started together interpret their scripts.
    QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
    ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
    EXPECT_TRUE(environ.readAll().split('\0').contains("QV4_FORCE_INTERPRETER=1"));
    // Their script engine's heap is anonymous memory, not a memory file's.
    ASSERT_FALSE(fleet.waitFor(QStringLiteral("^(\\[2\\] Script loaded: model\\.js)$")).isEmpty()) << fleet.out.toStdString();
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("/memfd:"));

    ::kill(pid.toInt(), SIGKILL);
    EXPECT_FALSE(fleet.waitFor(line2 + QStringLiteral("(killed by signal 9); restarting in 1 s$")).isEmpty());
    const QString again = fleet.waitFor(line2 + QStringLiteral("started, pid (?!") + pid + QStringLiteral("$)(\\d+)$"));
    ASSERT_FALSE(again.isEmpty()) << fleet.out.toStdString();
    EXPECT_TRUE(hosts[2]->waitClosed());
    ASSERT_TRUE(listening(2, fleet.matchEnd)) << fleet.out.toStdString();
    hosts[2] = std::make_unique<RawHost>();
    ASSERT_TRUE(hosts[2]->connect(base + 2, 1));
    EXPECT_TRUE(selectAndAsk(*hosts[2], 22, 20));
    for (unsigned i : {0u, 1u, 3u, 4u}) // the others kept their links
        EXPECT_TRUE(hosts[i]->send(header(20 + i, 0x81, 1, 30)) &&
                    hosts[i]->recv(kPatienceMs).value_or("").substr(0, 20) == header(20 + i, 1, 2, 30))
            << i;

    // SIGTERM stops every equipment, then the launcher ends with status 0.
    ::kill(static_cast<pid_t>(fleet.process.processId()), SIGTERM);
    EXPECT_FALSE(fleet.waitFor(QStringLiteral("^(tovik-fleet: all 5 stopped)$")).isEmpty());
    ASSERT_TRUE(fleet.process.waitForFinished(kPatienceMs));
    EXPECT_EQ(fleet.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(fleet.process.exitCode(), 0);
    fleet.out += fleet.process.readAllStandardOutput();
    EXPECT_EQ(fleet.out.count("): stopped\n"), 5) << fleet.out.toStdString();
    for (auto& host : hosts)
        EXPECT_TRUE(host->waitClosed(kPatienceMs));
    EXPECT_NE(::kill(again.toInt(), 0), 0);
}

} // namespace
