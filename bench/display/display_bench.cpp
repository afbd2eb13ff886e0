// Event log appends with the 4000-line cap active, and the message list's
// rebuild of 5,000 definitions, each next to a plain QStringList append of
// the same lines in the same run. Ratios of the medians are printed last.
#include "CHEventLog.h"
#include "CHListBoxOld.h"
#include "CHMsgListView.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

using namespace tovik;

namespace {

constexpr int kBatch = 10000;
constexpr int kDefinitions = 5000;

// Lines shaped like a message entry: label, header digits, SML lines.
const QStringList& logLines() {
    static const QStringList lines = [] {
        QStringList l;
        for (int i = 0; i < kBatch; ++i) {
            switch (i % 4) {
            case 0: l << QStringLiteral("Received "); break;
            case 1: l << QStringLiteral("0001810100000000%1").arg(i, 4, 16, QLatin1Char('0')); break;
            case 2: l << QStringLiteral("s1f1w"); break;
            default: l << QStringLiteral("\t<a'LOT-%1'>").arg(i); break;
            }
        }
        return l;
    }();
    return lines;
}

const CHOneMsgList& definitions() {
    static const CHOneMsgList list = [] {
        CHOneMsgList l;
        for (int i = 0; i < kDefinitions; ++i) {
            auto m = std::make_unique<CHOneMsg>();
            // Not in name order, so the rebuild has sorting to do.
            m->m_strName = "S" + std::to_string(1 + (i * 7919) % 99) + "F" + std::to_string(i % 50) + " Definition " +
                           std::to_string((i * 104729) % kDefinitions);
            m->m_nStream = static_cast<uint16_t>(1 + i % 99);
            m->m_nFunction = static_cast<uint16_t>(i % 50);
            l.push_back(std::move(m));
        }
        return l;
    }();
    return list;
}

void BM_AddTextCapped(benchmark::State& state) {
    CHEventLog log;
    for (const QString& l : logLines().mid(0, CHEventLog::kMaxLines))
        log.AddText(l);
    for (auto _ : state) {
        for (const QString& l : logLines())
            log.AddText(l);
        benchmark::DoNotOptimize(log.Count());
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// The same appends with the log view on screen catching up and repainting
// once per batch, as it does once per frame while a burst of traffic reaches
// the form.
void BM_AddTextCappedWithView(benchmark::State& state) {
    CHEventLog log;
    CHListBoxOld view(log);
    view.resize(600, 300);
    view.show();
    for (const QString& l : logLines().mid(0, CHEventLog::kMaxLines))
        log.AddText(l);
    QCoreApplication::processEvents();
    for (auto _ : state) {
        for (const QString& l : logLines())
            log.AddText(l);
        view.Sync();
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PlainAppendLog(benchmark::State& state) {
    for (auto _ : state) {
        QStringList list;
        for (const QString& l : logLines())
            list.append(l);
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_MsgListRebuild(benchmark::State& state) {
    CHMsgListView view;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont); // as on the form
    font.setPointSize(9);
    view.setFont(font);
    view.resize(600, 300);
    view.show();
    for (auto _ : state) {
        view.Rebuild(definitions());
        QCoreApplication::processEvents(); // the layout of the new rows
    }
    state.SetItemsProcessed(state.iterations() * kDefinitions);
}

void BM_PlainAppendNames(benchmark::State& state) {
    for (auto _ : state) {
        QStringList list;
        for (const auto& m : definitions())
            list.append(QString::fromStdString(m->m_strName));
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * kDefinitions);
}

BENCHMARK(BM_AddTextCapped)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddTextCappedWithView)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainAppendLog)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MsgListRebuild)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainAppendNames)->Repetitions(5)->Unit(benchmark::kMicrosecond);

class Medians : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> time;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.aggregate_name == "median")
                time[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Medians medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    auto ratio = [&](const char* a, const char* b) {
        if (medians.time.count(a) && medians.time.count(b) && medians.time[b] > 0)
            std::printf("%s / %s (medians): %.1f\n", a, b, medians.time[a] / medians.time[b]);
    };
    ratio("BM_AddTextCapped", "BM_PlainAppendLog");
    ratio("BM_AddTextCappedWithView", "BM_PlainAppendLog");
    ratio("BM_MsgListRebuild", "BM_PlainAppendNames");
    benchmark::Shutdown();
    return 0;
}
