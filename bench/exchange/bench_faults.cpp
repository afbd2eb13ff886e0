// The cost of fault rules that never match: automatic replies of a tovik
// --headless with 20 such rules loaded against one without rules, same
// document and settings, back to back in each iteration, with a raw socket
// ping-pong as the baseline.
#include "exchange_load.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <memory>

using namespace harness;

namespace {

std::map<std::string, std::vector<double>> g_rates;

const char* kDocument =
    "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n";

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

struct Equipment {
    explicit Equipment(const std::string& rules) {
        settings.localPort = freePort();
        Tovik::Files files;
        if (!rules.empty()) {
            files.push_back({QStringLiteral("faults.json"), rules});
            settings.extraSections = "[Faults]\nFile=faults.json\n";
        }
        tovik = std::make_unique<Tovik>(settings, kDocument, true, files);
        ok = tovik->waitLine("HSMS port has been opened successfully.") &&
             host.connect(settings.localPort);
        ok = ok && host.send(header(0xffff, 0, 0, 0, 1)) && host.recv();
    }
    ~Equipment() {
        host.close();
        tovik->proc.kill();
        tovik->proc.waitForFinished();
    }
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;
    unsigned system = 1;
    bool ok = false;
};

void BM_FaultRules(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const std::string mode = std::to_string(window);
    RawServer server;
    RawHost raw;
    raw.connect(server.port);
    unsigned rawSystem = 1;
    Equipment plain({});
    Equipment ruled(neverMatching());
    if (!plain.ok || !ruled.ok || ruled.tovik->countPrefix("Fault rules loaded from ") != 1) {
        state.SkipWithError("tovik did not start");
        return;
    }
    for (auto _ : state) {
        bool ok = true;
        const double r = timed([&] { ok = runBatch(raw, window, rawSystem); });
        const double p = timed([&] { ok = ok && runBatch(plain.host, window, plain.system); });
        const double f = timed([&] { ok = ok && runBatch(ruled.host, window, ruled.system); });
        if (!ok) {
            state.SkipWithError("a server stopped answering");
            break;
        }
        g_rates["raw/" + mode].push_back(kBatch / r);
        g_rates["plain/" + mode].push_back(kBatch / p);
        g_rates["rules/" + mode].push_back(kBatch / f);
        // Each iteration's pair, so the median ratio is one of paired runs.
        g_rates["ratio/" + mode].push_back(p / f);
        state.SetIterationTime(f);
        state.counters["no rules tx/s"] = kBatch / p;
        state.counters["20 rules tx/s"] = kBatch / f;
    }
}

} // namespace

BENCHMARK(BM_FaultRules)->Arg(1)->Arg(16)->UseManualTime()->Iterations(9);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-16s %10s %10s %10s %14s\n", "median tx/s", "20 rules", "no rules", "raw",
                "rules/none");
    for (int w : {1, 16}) {
        const std::string key = std::to_string(w);
        std::printf("%-16s %10.0f %10.0f %10.0f %14.3f\n", (key + " outstanding").c_str(),
                    median(g_rates["rules/" + key]), median(g_rates["plain/" + key]),
                    median(g_rates["raw/" + key]), median(g_rates["ratio/" + key]));
    }
    return 0;
}
