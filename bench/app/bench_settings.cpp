// Cost of the file log per event-log line against a raw write-and-flush of
// the same bytes, and of a whole settings save/load (one file rewrite per value).
#include "CTovikarApp.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

const QString kLine =
    QStringLiteral("Received s1f1w <L [2] <A 'abc'> <U4 1> > 0001810100000000002a");

void BM_RawWriteFlush(benchmark::State& state) {
    QTemporaryDir dir;
    std::FILE* f =
        std::fopen(QFile::encodeName(dir.filePath(QStringLiteral("raw.log"))).constData(), "w");
    const QByteArray bytes = kLine.toUtf8() + '\n';
    for (auto _ : state) {
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), f);
        std::fflush(f);
    }
    std::fclose(f);
}
BENCHMARK(BM_RawWriteFlush);

void BM_FileLogLine(benchmark::State& state) {
    QTemporaryDir dir;
    CHFileLog log;
    const CHFileLog::Config cfg{dir.filePath(QStringLiteral("t.log")), 100000, 1};
    for (auto _ : state)
        benchmark::DoNotOptimize(log.append(cfg, kLine));
}
BENCHMARK(BM_FileLogLine);

void BM_SaveSettings(benchmark::State& state) {
    QTemporaryDir dir;
    CTovikarApp app(dir.filePath(QStringLiteral("tovik")), dir.path());
    app.profile().setFileName(dir.filePath(QStringLiteral("s.ini")));
    for (auto _ : state)
        benchmark::DoNotOptimize(app.SaveSettings());
}
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMillisecond);

void BM_LoadSettings(benchmark::State& state) {
    QTemporaryDir dir;
    CTovikarApp app(dir.filePath(QStringLiteral("tovik")), dir.path());
    app.profile().setFileName(dir.filePath(QStringLiteral("s.ini")));
    app.SaveSettings();
    for (auto _ : state)
        app.LoadSettings();
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
