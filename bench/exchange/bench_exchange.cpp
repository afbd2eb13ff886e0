// Automatic replies per second of tovik --headless (full logging, and with
// ShowMsgBody off) against a raw socket server answering the same frames,
// at 1 and 16 outstanding requests. Every benchmark runs in the same process
// and run, and the ratios of the medians are printed at the end.
// TOVIK_BENCH_CPU=n pins the whole run to one processor (see main).
#include "exchange_load.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <future>
#include <thread>

using namespace harness;

namespace {

std::map<std::string, std::vector<double>> g_rates;

// The same answers from a Qt event loop in its own thread: what any
// QTcpSocket program pays before doing any work of its own.
class QtEchoServer : public QThread {
public:
    QtEchoServer() {
        std::future<int> f = m_port.get_future();
        start();
        port = f.get();
    }
    ~QtEchoServer() override {
        quit();
        wait();
    }
    int port = 0;

protected:
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        Bytes in, out;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            QTcpSocket* s = server.nextPendingConnection();
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(s, &QTcpSocket::readyRead, [s, &in, &out] {
                const QByteArray data = s->readAll();
                in.insert(in.end(), data.begin(), data.end());
                out.clear();
                answerFrames(in, out);
                if (!out.empty())
                    s->write(reinterpret_cast<const char*>(out.data()), static_cast<qint64>(out.size()));
            });
        });
        m_port.set_value(server.serverPort());
        exec();
    }

private:
    std::promise<int> m_port;
};

// Each iteration runs one batch against the raw server and one against
// tovik, back to back, so both see the same machine load.
void BM_Exchange(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const bool body = state.range(1) != 0;
    const std::string mode = std::string(body ? "full/" : "nobody/") + std::to_string(window);

    RawServer server;
    RawHost raw;
    raw.connect(server.port);
    QtEchoServer qtServer;
    RawHost qtHost;
    qtHost.connect(qtServer.port);

    Settings settings;
    settings.showBody = body;
    settings.localPort = freePort();
    Tovik tovik(settings, std::string("'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n"));
    RawHost host;
    if (!tovik.waitLine("HSMS port has been opened successfully.") || !host.connect(settings.localPort)) {
        state.SkipWithError("tovik did not start");
        return;
    }
    host.send(header(0xffff, 0, 0, 0, 1));
    host.recv();
    unsigned rawSystem = 1, qtSystem = 1, system = 1;
    for (auto _ : state) {
        bool ok = true;
        const double r = timed([&] { ok = runBatch(raw, window, rawSystem); });
        const double q = timed([&] { ok = ok && runBatch(qtHost, window, qtSystem); });
        const double t = timed([&] { ok = ok && runBatch(host, window, system); });
        if (!ok) {
            state.SkipWithError("a server stopped answering");
            break;
        }
        g_rates["raw/" + mode].push_back(kBatch / r);
        g_rates["qt/" + mode].push_back(kBatch / q);
        g_rates[mode].push_back(kBatch / t);
        state.SetIterationTime(t);
        state.counters["raw tx/s"] = kBatch / r;
        state.counters["tovik tx/s"] = kBatch / t;
    }
    host.close();
    qtHost.close();
    tovik.proc.kill();
    tovik.proc.waitForFinished();
}

} // namespace

BENCHMARK(BM_Exchange)->Args({1, 1})->Args({16, 1})->Args({1, 0})->Args({16, 0})->UseManualTime()->Iterations(15);

int main(int argc, char** argv) {
    // TOVIK_BENCH_CPU=n runs everything on processor n: the host, both
    // servers and tovik (which inherits it). On a shared or virtual machine
    // this takes wake-ups across processors out of the comparison and leaves
    // the work per transaction.
    if (const char* cpu = std::getenv("TOVIK_BENCH_CPU"); cpu && *cpu) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(std::atoi(cpu), &set);
        if (sched_setaffinity(0, sizeof set, &set) != 0)
            std::perror("TOVIK_BENCH_CPU");
    }
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Ratios of the medians, and the spread of the ratios of each iteration's
    // back-to-back pair (how much the machine's load moved under the run).
    std::printf("\n%-24s %10s %10s %10s %9s %11s %8s\n", "median tx/s", "tovik", "raw", "Qt loop",
                "tovik/raw", "pair range", "Qt/raw");
    for (const char* mode : {"full", "nobody"}) {
        for (int w : {1, 16}) {
            const std::string key = std::string(mode) + "/" + std::to_string(w);
            const std::vector<double>& tv = g_rates[key];
            const std::vector<double>& rv = g_rates["raw/" + key];
            std::vector<double> pairs;
            for (std::size_t i = 0; i < tv.size() && i < rv.size(); ++i)
                pairs.push_back(rv[i] > 0 ? tv[i] / rv[i] : 0.0);
            const auto [lo, hi] = pairs.empty() ? std::pair(0.0, 0.0)
                                                : std::pair(*std::min_element(pairs.begin(), pairs.end()),
                                                            *std::max_element(pairs.begin(), pairs.end()));
            const double t = median(tv);
            const double r = median(rv);
            const double q = median(g_rates["qt/" + key]);
            std::printf("%-24s %10.0f %10.0f %10.0f %9.2f %5.2f-%5.2f %8.2f\n",
                        (std::string(mode == std::string("full") ? "full logging" : "ShowMsgBody off") +
                         ", " + std::to_string(w) + " out")
                            .c_str(),
                        t, r, q, r > 0 ? t / r : 0.0, lo, hi, r > 0 ? q / r : 0.0);
        }
    }
    return 0;
}
