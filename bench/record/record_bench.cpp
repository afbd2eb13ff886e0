// Transactions per second at 1 and 16 outstanding: a raw host straight to a
// raw fast equipment against the same through `tovik --record`, and Tovik's
// automatic replies with and without --capture. Paired runs side by side;
// medians of the ratios. Usage: record_bench [transactions] [runs] [outstanding]
// (one figure only, say 16, for a profiler to attach to; the capture part then skipped).
// RECORD_BENCH_TOVIK names another tovik to measure (an older build, say).
#include "hsms_peer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace hsmstest;

namespace {

// Answers Select.req and every primary with W-bit at once (empty body).
class FastEquipment {
public:
    FastEquipment() : m_thread([this] { run(); }) {}
    ~FastEquipment() {
        m_stop = true;
        m_thread.join();
    }
    int port() const { return m_listener.port(); }

private:
    void run() {
        int fd = -1;
        while (fd < 0 && !m_stop)
            fd = m_listener.accept(100);
        if (fd < 0)
            return;
        RawHost link;
        link.adopt(fd);
        while (!m_stop && !link.closed()) {
            const auto m = link.recv(100);
            if (!m)
                continue;
            const Bytes h = bytesOf(m->substr(0, 20));
            if (h[0] == 0xff && h[5] == 1)
                link.send("ffff00000002" + m->substr(12, 8));
            else if (h[0] != 0xff && (h[2] & 0x80))
                link.send(header(0, h[2] & 0x7f, h[3] + 1u, std::stoul(m->substr(12, 8), nullptr, 16)));
        }
    }
    RawListener m_listener;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Transactions per second for `count` S1F1 with `outstanding` in flight.
double transactions(RawHost& host, int count, int outstanding) {
    const auto start = std::chrono::steady_clock::now();
    unsigned system = 1;
    int sent = 0, received = 0;
    for (; sent < outstanding && sent < count; ++sent)
        host.send(header(0, 0x81, 1, system++));
    while (received < count) {
        if (!host.recv(10000))
            return 0;
        ++received;
        if (sent < count) {
            host.send(header(0, 0x81, 1, system++));
            ++sent;
        }
    }
    return count / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Tovik {
    QTemporaryDir dir;
    QProcess proc;
    int port = freePort();
    explicit Tovik(const QStringList& extra) {
        QFile ini(dir.filePath(QStringLiteral("eq.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[HSMS]\nServer=1\nLocalPortNumber=%1\n[Info]\nShowMsgBody=0\n").arg(port).toUtf8());
        ini.close();
        QFile doc(dir.filePath(QStringLiteral("eq.tvkm")));
        doc.open(QIODevice::WriteOnly);
        doc.write("'S1F2'\r\nBegin List\r\ns1f2\r\n{}\r\nEnd List\r\n\r\n");
        doc.close();
        proc.setStandardOutputFile(QProcess::nullDevice());
        proc.setStandardErrorFile(QProcess::nullDevice());
        QStringList args{QStringLiteral("--headless")};
        for (QString a : extra)
            args << a.replace(QStringLiteral("DIR"), dir.path());
        const QString exe = qEnvironmentVariable("RECORD_BENCH_TOVIK", QStringLiteral(TOVIK_EXE));
        proc.start(exe, args << dir.filePath(QStringLiteral("eq.tvkm")));
        proc.waitForStarted();
    }
    // CPU seconds the process used so far (user and system): steadier than a
    // rate on a machine shared with other work.
    double cpu() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(proc.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
        // After the name: state is fields[1], utime and stime fields[12] and [13].
        return (fields.value(12).toDouble() + fields.value(13).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    ~Tovik() {
        proc.terminate();
        proc.waitForFinished(10000);
    }
};

bool select(RawHost& host, int port) {
    if (!host.connect(port))
        return false;
    host.send(header(0xffff, 0, 0, 0x99, 1));
    return host.recv().has_value();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const int only = argc > 3 ? std::atoi(argv[3]) : 0;
    for (int outstanding : {1, 16}) {
        if (only && outstanding != only)
            continue;
        std::vector<double> ratios;
        for (int r = 0; r < runs; ++r) {
            double direct = 0, relayed = 0, cpu = 0;
            {
                FastEquipment eq;
                RawHost host;
                if (select(host, eq.port()))
                    direct = transactions(host, count, outstanding);
            }
            {
                FastEquipment eq;
                Tovik tovik({QStringLiteral("--record"), QStringLiteral("DIR/rec"), QStringLiteral("--upstream"),
                             QStringLiteral("127.0.0.1:%1").arg(eq.port())});
                std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the equipment selected
                RawHost host;
                if (select(host, tovik.port)) {
                    const double before = tovik.cpu();
                    relayed = transactions(host, count, outstanding);
                    cpu = (tovik.cpu() - before) * 1e6 / count;
                }
            }
            std::printf("relay  %2d outstanding: direct %8.0f/s  relayed %8.0f/s  ratio %.2f  tovik %5.1f us/transaction\n",
                        outstanding, direct, relayed, direct > 0 ? relayed / direct : 0, cpu);
            ratios.push_back(direct > 0 ? relayed / direct : 0);
        }
        std::printf("relay  %2d outstanding: median ratio %.2f\n", outstanding, median(ratios));
    }
    if (only)
        return 0;
    std::vector<double> costs;
    for (int r = 0; r < runs; ++r) {
        double plain = 0, captured = 0, cpu[2] = {0, 0};
        for (bool capture : {false, true}) {
            Tovik tovik(capture ? QStringList{QStringLiteral("--capture"), QStringLiteral("DIR/c.pcapng")} : QStringList{});
            RawHost host;
            if (select(host, tovik.port)) {
                const double before = tovik.cpu();
                (capture ? captured : plain) = transactions(host, count, 16);
                cpu[capture] = (tovik.cpu() - before) * 1e6 / count;
            }
        }
        std::printf("capture 16 outstanding: off %8.0f/s  on %8.0f/s  cost %.0f %%  tovik %5.1f / %5.1f us/transaction\n",
                    plain, captured, plain > 0 ? 100 * (1 - captured / plain) : 0, cpu[0], cpu[1]);
        costs.push_back(plain > 0 ? 1 - captured / plain : 0);
    }
    std::printf("capture 16 outstanding: median cost %.0f %%\n", 100 * median(costs));
    return 0;
}
