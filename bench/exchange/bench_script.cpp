// Automatic replies decided by a reply script against the same replies from
// the document, in one run: two tovik --headless processes with the same
// document and settings, one of them with a script whose S1F1 handler builds
// its S1F2 from the request. A raw socket server answering the same frames
// is the baseline. Each iteration runs one batch against each, back to back.
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
// The same size of reply as the document's, built from the request.
const char* kScript =
    "tovik.on('S1F1', (msg) => `s1f2 { <a'EQ'> <a'${msg.systemBytes % 10}'> }`);\n";

struct Equipment {
    explicit Equipment(const Tovik::Files& files) {
        settings.localPort = freePort();
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

void BM_ScriptReplies(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const std::string mode = std::to_string(window);
    RawServer server;
    RawHost raw;
    raw.connect(server.port);
    unsigned rawSystem = 1;
    Equipment document({});
    Equipment script({{QStringLiteral("equipment.js"), kScript}});
    if (!document.ok || !script.ok || !script.tovik->waitLine("Script loaded: equipment.js")) {
        state.SkipWithError("tovik did not start");
        return;
    }
    for (auto _ : state) {
        bool ok = true;
        const double r = timed([&] { ok = runBatch(raw, window, rawSystem); });
        const double d =
            timed([&] { ok = ok && runBatch(document.host, window, document.system); });
        const double s = timed([&] { ok = ok && runBatch(script.host, window, script.system); });
        if (!ok) {
            state.SkipWithError("a server stopped answering");
            break;
        }
        g_rates["raw/" + mode].push_back(kBatch / r);
        g_rates["document/" + mode].push_back(kBatch / d);
        g_rates["script/" + mode].push_back(kBatch / s);
        state.SetIterationTime(s);
        state.counters["document tx/s"] = kBatch / d;
        state.counters["script tx/s"] = kBatch / s;
    }
}

} // namespace

BENCHMARK(BM_ScriptReplies)->Arg(1)->Arg(16)->UseManualTime()->Iterations(9);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-16s %10s %10s %10s %12s %10s %10s\n", "median tx/s", "script", "document",
                "raw", "script/doc", "doc/raw", "script/raw");
    for (int w : {1, 16}) {
        const std::string key = std::to_string(w);
        const double s = median(g_rates["script/" + key]);
        const double d = median(g_rates["document/" + key]);
        const double r = median(g_rates["raw/" + key]);
        std::printf("%-16s %10.0f %10.0f %10.0f %12.2f %10.2f %10.2f\n",
                    (key + " outstanding").c_str(), s, d, r, d > 0 ? s / d : 0.0,
                    r > 0 ? d / r : 0.0, r > 0 ? s / r : 0.0);
    }
    return 0;
}
