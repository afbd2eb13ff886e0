// Automatic replies per second of tovik --headless (full logging, and with
// ShowMsgBody off) and of tovik with its main window (full logging, the event
// log following the newest line; on the offscreen platform, and on an Xvfb
// display of the run's own when Xvfb is installed) against a raw socket
// server answering the same frames, at 1 and 16 outstanding requests. Every
// benchmark runs in the same process and run, and the ratios of the medians
// are printed at the end, with how long the windowed program took from
// logging a message to painting it (median and 99th percentile).
// TOVIK_BENCH_CPU=n pins the whole run to one processor (see main).
#include "exchange_load.h"
#include "windowed_program.h"

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

Rates g_rates;

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

// Each iteration runs one batch against the raw server, one against a Qt
// loop and one against tovik (connected on `host`), back to back, so all see
// the same machine load.
void runPairs(benchmark::State& state, RawHost& host, int window, const std::string& mode) {
    RawBaseline raw;
    QtEchoServer qtServer;
    RawHost qtHost;
    qtHost.connect(qtServer.port);
    unsigned qtSystem = 1, system = 1;
    pairedRuns(state, window, mode,
               {{"raw", raw.host, raw.system}, {"qt", qtHost, qtSystem}, {"tovik", host, system}}, g_rates,
               {{"tovik", "raw"}});
    host.close();
    qtHost.close();
}

void BM_Exchange(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const bool body = state.range(1) != 0;
    Settings settings;
    settings.showBody = body;
    settings.localPort = freePort();
    Tovik tovik(settings, kOneReplyDocument);
    RawHost host;
    if (!tovik.waitLine("HSMS port has been opened successfully.") || !selected(host, settings.localPort)) {
        state.SkipWithError("tovik did not start");
        return;
    }
    runPairs(state, host, window, std::string(body ? "full/" : "nobody/") + std::to_string(window));
    tovik.proc.kill();
    tovik.proc.waitForFinished();
}

// Milliseconds from logging a message to painting it, and from a user's
// action to painting its effect, per windowed mode.
std::map<std::string, std::vector<double>> g_paint, g_input;
// One X server for the run, started when first needed and ended by main.
std::unique_ptr<bench::Xvfb> g_xvfb;

// The windowed program: range(1) 0 on the offscreen platform, 1 on Xvfb.
void BM_ExchangeWindowed(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const bool onXvfb = state.range(1) != 0;
    if (onXvfb && !g_xvfb)
        g_xvfb = std::make_unique<bench::Xvfb>();
    if (onXvfb && g_xvfb->display.isEmpty()) {
        state.SkipWithError("Xvfb is not installed or did not start");
        return;
    }
    Settings settings;
    settings.localPort = freePort();
    bench::WindowedTovik tovik(settings, kOneReplyDocument, onXvfb ? g_xvfb->display : QString());
    RawHost host;
    if (!selected(host, settings.localPort, 1500)) {
        state.SkipWithError("windowed tovik did not open its port");
        return;
    }
    const std::string mode = std::string(onXvfb ? "xvfb/" : "offscreen/") + std::to_string(window);
    tovik.startMeasuring();
    runPairs(state, host, window, mode);
    g_paint[mode] = tovik.traceMs("paint");
    g_input[mode] = tovik.traceMs("input");
}


double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

} // namespace

BENCHMARK(BM_Exchange)->Args({1, 1})->Args({16, 1})->Args({1, 0})->Args({16, 0})->UseManualTime()->Iterations(15);
BENCHMARK(BM_ExchangeWindowed)->Args({1, 0})->Args({16, 0})->Args({1, 1})->Args({16, 1})->UseManualTime()->Iterations(15);

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
    runBenchmarks(argc, argv);
    g_xvfb.reset();
    // Ratios of the medians, and the spread of the ratios of each iteration's
    // back-to-back pair (how much the machine's load moved under the run).
    std::printf("\n%-33s %8s %8s %8s %9s %11s %7s %19s %19s\n", "median tx/s", "tovik", "raw", "Qt loop",
                "tovik/raw", "pair range", "Qt/raw", "log painted (ms)", "user answered (ms)");
    const std::pair<const char*, const char*> modes[] = {{"full", "headless, full logging"},
                                                         {"nobody", "headless, ShowMsgBody off"},
                                                         {"offscreen", "window, offscreen"},
                                                         {"xvfb", "window, Xvfb"}};
    for (const auto& [mode, title] : modes) {
        for (int w : {1, 16}) {
            const std::string key = std::string(mode) + "/" + std::to_string(w);
            const std::vector<double>& tv = g_rates["tovik/" + key];
            const std::vector<double>& rv = g_rates["raw/" + key];
            if (tv.empty())
                continue;
            const std::vector<double>& pairs = g_rates["tovik/raw/" + key];
            const auto [lo, hi] = pairs.empty() ? std::pair(0.0, 0.0)
                                                : std::pair(*std::min_element(pairs.begin(), pairs.end()),
                                                            *std::max_element(pairs.begin(), pairs.end()));
            const double t = median(tv);
            const double r = median(rv);
            const double q = median(g_rates["qt/" + key]);
            // Median and 99th percentile of a windowed mode's trace.
            const auto spread = [&](std::map<std::string, std::vector<double>>& ms) {
                const auto it = ms.find(key);
                if (it == ms.end() || it->second.empty())
                    return std::string();
                char text[64];
                std::snprintf(text, sizeof text, "%.1f med %.1f p99", median(it->second),
                              percentile(it->second, 0.99));
                return std::string(text);
            };
            std::printf("%-33s %8.0f %8.0f %8.0f %9.2f %5.2f-%5.2f %7.2f %19s %19s\n",
                        (std::string(title) + ", " + std::to_string(w) + " out").c_str(), t, r, q,
                        r > 0 ? t / r : 0.0, lo, hi, r > 0 ? q / r : 0.0, spread(g_paint).c_str(),
                        spread(g_input).c_str());
        }
    }
    return 0;
}
