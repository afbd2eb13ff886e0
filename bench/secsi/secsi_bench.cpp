// Many-block messages between two SECS-I drivers over pseudo-terminals,
// next to the raw byte rate of the same pty pair measured in the same run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

#include "CVeltSecsI.h"
#include "pty_pair.h"
#include "secsi_block.h"

namespace {

struct Line {
    RawPty a, b;
    std::unique_ptr<PtyRelay> relay;
    Line() {
        a.open();
        b.open();
        relay = std::make_unique<PtyRelay>(a.master, b.master);
    }
};

double g_rawBytesPerSecond = 0;

void BM_RawPtyPair(benchmark::State& state) {
    Line line;
    const std::size_t total = 256 * 1024;
    std::vector<uint8_t> out(total, 0x5a), in(total);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::thread writer([&] {
            std::size_t done = 0;
            while (done < total) {
                const ssize_t n = ::write(line.a.slave, out.data() + done, std::min<std::size_t>(4096, total - done));
                if (n > 0)
                    done += static_cast<std::size_t>(n);
            }
        });
        std::size_t got = 0;
        while (got < total) {
            const ssize_t n = ::read(line.b.slave, in.data() + got, total - got);
            if (n > 0)
                got += static_cast<std::size_t>(n);
        }
        writer.join();
    }
    // Kept for the drivers' ratio: this pty pair's raw rate in this run.
    g_rawBytesPerSecond = static_cast<double>(state.iterations() * total) /
                          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
    state.counters["bytes/s"] = benchmark::Counter(static_cast<double>(state.iterations() * total),
                                                   benchmark::Counter::kIsRate);
}

void BM_DriversManyBlock(benchmark::State& state) {
    const int blocks = static_cast<int>(state.range(0));
    const bool msec = state.range(1) != 0;
    Line line;
    CVeltSecsI host, equipment;
    for (CVeltSecsI* d : {&host, &equipment}) {
        d->SetT1Timeout(1000);
        d->SetT2Timeout(3000);
        d->SetT4Timeout(5000);
        d->SetMsecMode(msec);
        d->SetDevice(1);
    }
    host.SetMasterMode(true);
    host.SetDevicePath(QString::fromStdString(line.a.slavePath));
    equipment.SetDevicePath(QString::fromStdString(line.b.slavePath));
    host.SetPortOpen(true);
    equipment.SetPortOpen(true);
    if (!host.GetPortOpen() || !equipment.GetPortOpen()) {
        state.SkipWithError("cannot open the pty pair");
        return;
    }
    QString hex = QStringLiteral("000106100000000000 01").remove(QLatin1Char(' '));
    for (int i = 0; i < blocks * static_cast<int>(tovik::secsi::kMaxBlockData); ++i)
        hex += QStringLiteral("%1").arg(i % 251, 2, 16, QLatin1Char('0'));
    // A plain event loop: the test helpers' waits sleep between polls.
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&equipment, &CVeltSecsI::MessageReceived, [&](const QString&) {
        ok = true;
        loop.quit();
    });
    QObject::connect(&host, &CVeltSecsI::SendCompleted, [&](const QString&, bool success) {
        if (!success)
            loop.quit();
    });
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ok = false;
        host.SendHex(hex);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        if (!ok) {
            state.SkipWithError("message did not arrive");
            break;
        }
    }
    const double bytes = static_cast<double>(state.iterations()) * blocks * tovik::secsi::kMaxBlockData;
    state.counters["blocks/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * blocks,
                                                    benchmark::Counter::kIsRate);
    state.counters["bytes/s"] = benchmark::Counter(bytes, benchmark::Counter::kIsRate);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (g_rawBytesPerSecond > 0 && seconds > 0)
        state.counters["vs_raw"] = bytes / seconds / g_rawBytesPerSecond;
}

} // namespace

BENCHMARK(BM_RawPtyPair)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DriversManyBlock)
    ->Args({100, 0})
    ->Args({100, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
