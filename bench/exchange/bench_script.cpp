// Automatic replies decided by a reply script against the same replies from
// the document, in one run: two tovik --headless processes with the same
// document and settings, one of them with a script whose S1F1 handler builds
// its S1F2 from the request. A raw socket server answering the same frames
// is the baseline. Each iteration runs one batch against each, back to back.
#include "exchange_load.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

using namespace harness;

namespace {

Rates g_rates;

// The same size of reply as the document's, built from the request.
const char* kScript =
    "tovik.on('S1F1', (msg) => `s1f2 { <a'EQ'> <a'${msg.systemBytes % 10}'> }`);\n";

void BM_ScriptReplies(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    RawBaseline raw;
    Equipment document;
    Equipment script({{QStringLiteral("equipment.js"), kScript}});
    if (!document.ok || !script.ok || !script.tovik->waitLine("Script loaded: equipment.js")) {
        state.SkipWithError("tovik did not start");
        return;
    }
    pairedRuns(state, window, std::to_string(window),
               {{"raw", raw.host, raw.system}, {"document", document.host, document.system},
                {"script", script.host, script.system}},
               g_rates, {{"script", "document"}, {"document", "raw"}, {"script", "raw"}});
}

} // namespace

BENCHMARK(BM_ScriptReplies)->Arg(1)->Arg(16)->UseManualTime()->Iterations(9);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    runBenchmarks(argc, argv);
    printMedians(g_rates, "median tx/s",
                 {{"script", "script"}, {"document", "document"}, {"raw", "raw"},
                  {"script/doc", "script/document", 1, 2}, {"doc/raw", "document/raw", 1, 2},
                  {"script/raw", "script/raw", 1, 2}});
    return 0;
}
