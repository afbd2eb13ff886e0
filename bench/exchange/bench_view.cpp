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

using namespace harness;

namespace {

Rates g_rates;

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
        tovik = std::make_unique<bench::WindowedTovik>(settings, kOneReplyDocument, QString());
        ok = selected(host, settings.localPort, 1500);
    }
    Settings settings;
    std::unique_ptr<bench::WindowedTovik> tovik;
    RawHost host;
    unsigned system = 1;
    bool ok = false;
};

void BM_MessagesView(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    RawBaseline raw;
    Window hidden({});
    Window shown(shownProfile());
    if (!hidden.ok || !shown.ok) {
        state.SkipWithError("windowed tovik did not start");
        return;
    }
    pairedRuns(state, window, std::to_string(window),
               {{"raw", raw.host, raw.system}, {"hidden", hidden.host, hidden.system}, {"shown", shown.host, shown.system}},
               g_rates, {{"shown", "hidden"}});
}

} // namespace

BENCHMARK(BM_MessagesView)->Arg(1)->Arg(16)->UseManualTime()->Iterations(9);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // only to make the saved state
    QApplication app(argc, argv);
    runBenchmarks(argc, argv);
    printMedians(g_rates, "median tx/s",
                 {{"shown", "shown"}, {"hidden", "hidden"}, {"raw", "raw"}, {"shown/hidden", "shown/hidden", 1, 3}});
    return 0;
}
