// What the Messages view costs the exchange: automatic replies of the
// windowed tovik with the view shown against the same program with it
// hidden, back to back in each iteration (offscreen), with a raw socket
// ping-pong as the baseline. The view is shown through the window state
// the program restores at start.
#include "exchange_load.h"
#include "windowed_program.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDockWidget>
#include <QMainWindow>

#include <cstdio>
#include <map>
#include <memory>

using namespace harness;

namespace {

std::map<std::string, std::vector<double>> g_rates;

const char* kDocument =
    "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n";

// The window's section of the document's settings file: a saved state
// whose only entry is the Messages dock, shown.
std::string shownProfile() {
    QMainWindow window;
    auto* dock = new QDockWidget(&window);
    dock->setObjectName(QStringLiteral("MessagesDock"));
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->show();
    return "[CMainFrame]\nWindowState=" + window.saveState().toBase64().toStdString() + "\n";
}

struct Window {
    explicit Window(const std::string& profile) {
        settings.localPort = freePort();
        settings.extraSections = profile;
        tovik = std::make_unique<bench::WindowedTovik>(settings, kDocument, QString());
        ok = host.connect(settings.localPort, 1500) && host.send(header(0xffff, 0, 0, 0, 1)) && host.recv();
    }
    Settings settings;
    std::unique_ptr<bench::WindowedTovik> tovik;
    RawHost host;
    unsigned system = 1;
    bool ok = false;
};

void BM_MessagesView(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const std::string mode = std::to_string(window);
    RawServer server;
    RawHost raw;
    raw.connect(server.port);
    unsigned rawSystem = 1;
    Window hidden({});
    Window shown(shownProfile());
    if (!hidden.ok || !shown.ok) {
        state.SkipWithError("windowed tovik did not start");
        return;
    }
    for (auto _ : state) {
        bool ok = true;
        const double r = timed([&] { ok = runBatch(raw, window, rawSystem); });
        const double h = timed([&] { ok = ok && runBatch(hidden.host, window, hidden.system); });
        const double s = timed([&] { ok = ok && runBatch(shown.host, window, shown.system); });
        if (!ok) {
            state.SkipWithError("a server stopped answering");
            break;
        }
        g_rates["raw/" + mode].push_back(kBatch / r);
        g_rates["hidden/" + mode].push_back(kBatch / h);
        g_rates["shown/" + mode].push_back(kBatch / s);
        g_rates["ratio/" + mode].push_back(h / s); // shown rate over hidden rate, this pair
        state.SetIterationTime(s);
        state.counters["hidden tx/s"] = kBatch / h;
        state.counters["shown tx/s"] = kBatch / s;
    }
}

} // namespace

BENCHMARK(BM_MessagesView)->Arg(1)->Arg(16)->UseManualTime()->Iterations(9);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // only to make the saved state
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-16s %10s %10s %10s %14s\n", "median tx/s", "shown", "hidden", "raw", "shown/hidden");
    for (int w : {1, 16}) {
        const std::string key = std::to_string(w);
        std::printf("%-16s %10.0f %10.0f %10.0f %14.3f\n", (key + " outstanding").c_str(),
                    median(g_rates["shown/" + key]), median(g_rates["hidden/" + key]),
                    median(g_rates["raw/" + key]), median(g_rates["ratio/" + key]));
    }
    return 0;
}
