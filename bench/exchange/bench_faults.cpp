// The cost of fault rules that never match: automatic replies of a tovik
// --headless with 20 such rules loaded against one without rules, same
// document and settings, back to back in each iteration, with a raw socket
// ping-pong as the baseline.
#include "exchange_load.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

using namespace harness;

namespace {

Rates g_rates;

// Ten on other streams, ten for every message but from a host that never comes.
std::string neverMatching() {
    std::string rules = "[";
    for (int i = 0; i < 10; ++i)
        rules += "{\"match\": \"S" + std::to_string(2 + i) + "F*\", \"action\": \"delay\", \"ms\": 1000},";
    for (int i = 0; i < 10; ++i)
        rules += "{\"match\": \"*\", \"host\": \"192.0.2." + std::to_string(1 + i) +
                 "\", \"action\": \"drop\", \"probability\": 0.5, \"seed\": " + std::to_string(i) + "}" +
                 (i == 9 ? "]" : ",");
    return rules;
}

void BM_FaultRules(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    RawBaseline raw;
    Equipment plain;
    Equipment ruled({{QStringLiteral("faults.json"), neverMatching()}}, "[Faults]\nFile=faults.json\n");
    if (!plain.ok || !ruled.ok || ruled.tovik->countPrefix("Fault rules loaded from ") != 1) {
        state.SkipWithError("tovik did not start");
        return;
    }
    pairedRuns(state, window, std::to_string(window),
               {{"raw", raw.host, raw.system}, {"no rules", plain.host, plain.system}, {"20 rules", ruled.host, ruled.system}},
               g_rates, {{"20 rules", "no rules"}});
}

} // namespace

BENCHMARK(BM_FaultRules)->Arg(1)->Arg(16)->UseManualTime()->Iterations(9);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    runBenchmarks(argc, argv);
    printMedians(g_rates, "median tx/s",
                 {{"20 rules", "20 rules"}, {"no rules", "no rules"}, {"raw", "raw"},
                  {"rules/none", "20 rules/no rules", 1, 3}});
    return 0;
}
