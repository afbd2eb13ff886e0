// The control API's cost to the hosts, and its own round trips. Two
// tovik --headless with the same document: one without the API, one with it
// and two busy clients (GET /api/messages every 10 ms from the last id seen,
// and a WebSocket subscriber reading every event). Each iteration runs one
// batch of automatic replies against each, back to back. Then the round
// trips of GET /api/status and of POST /api/send with wait against a host
// that answers at once (this thread).
#include "exchange_load.h"
#include "http_client.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

using namespace harness;

namespace {

Rates g_rates;

// Nanoseconds the process has run on a CPU, all its threads (with
// mainThread, only the one that answers the hosts): its cost, whatever else
// the machine is busy with.
double cpuSeconds(const QProcess& proc, bool mainThread = false) {
    const std::string pid = std::to_string(proc.processId());
    double ns = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + pid + "/task")) {
        if (mainThread && task.path().filename() != pid)
            continue;
        std::ifstream in(task.path() / "schedstat");
        double taskNs = 0;
        in >> taskNs;
        ns += taskNs;
    }
    return ns * 1e-9;
}

// The equipment with the API on a port of its choosing, and that port.
struct ApiEquipment : Equipment {
    ApiEquipment() : Equipment({}, {}, {QStringLiteral("--api"), QStringLiteral("0")}, kDocument) {
        const std::string prefix = "API listening on 127.0.0.1:";
        for (const auto& l : tovik->lines())
            if (l.rfind(prefix, 0) == 0)
                port = std::stoi(l.substr(prefix.size()));
    }
    int port = 0;
};

// The two clients of the API, each on its own thread, until stopped.
struct BusyClients {
    explicit BusyClients(int port) {
        poller = std::thread([this, port] {
            qint64 last = 0;
            while (!stop) {
                const auto r = httptest::request(port, "GET", "/api/messages?limit=1000&since=" + std::to_string(last));
                const QJsonArray a = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).array();
                if (!a.isEmpty())
                    last = a.last().toObject()[QStringLiteral("id")].toInteger();
                polls++;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        subscriber = std::thread([this, port] {
            httptest::WebSocket ws(port, "/api/events");
            while (!stop)
                if (!ws.next(50).empty())
                    events++;
        });
    }
    ~BusyClients() {
        stop = true;
        poller.join();
        subscriber.join();
    }
    std::atomic<bool> stop{false};
    std::atomic<long> polls{0}, events{0};
    std::thread poller, subscriber;
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_RepliesWithApi(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    const std::string mode = std::to_string(window);
    Equipment off({}, {}, {}, kDocument);
    ApiEquipment on;
    if (!off.ok || !on.ok || on.port == 0) {
        state.SkipWithError("tovik did not start");
        return;
    }
    BusyClients clients(on.port);
    double offCpu = 0, onCpu = 0, onMain = 0;
    pairedRuns(state, window, mode, {{"off", off.host, off.system}, {"on", on.host, on.system}}, g_rates,
               {{"on", "off"}}, [&](std::size_t batch) {
                   // The program with the API is charged from the start of the
                   // pair: its clients keep it busy while the other one runs too.
                   if (batch == 0) {
                       offCpu = cpuSeconds(off.tovik->proc);
                       onCpu = cpuSeconds(on.tovik->proc);
                       onMain = cpuSeconds(on.tovik->proc, true);
                   } else if (batch == 1) {
                       g_rates["cpu off/" + mode].push_back((cpuSeconds(off.tovik->proc) - offCpu) / kBatch);
                   } else {
                       g_rates["cpu on/" + mode].push_back((cpuSeconds(on.tovik->proc) - onCpu) / kBatch);
                       g_rates["main on/" + mode].push_back((cpuSeconds(on.tovik->proc, true) - onMain) / kBatch);
                   }
               });
    state.counters["polls"] = static_cast<double>(clients.polls);
    state.counters["events"] = static_cast<double>(clients.events);
}

void BM_RoundTrips(benchmark::State& state) {
    ApiEquipment on;
    if (!on.ok || on.port == 0) {
        state.SkipWithError("tovik did not start");
        return;
    }
    std::vector<double> status, send;
    for (auto _ : state) {
        for (int i = 0; i < 200; ++i)
            status.push_back(timed([&] { httptest::request(on.port, "GET", "/api/status"); }));
        for (int i = 0; i < 200; ++i) {
            send.push_back(timed([&] {
                httptest::Call call(on.port, "POST", "/api/send", R"({"sml": "s1f1w", "wait": true})");
                const auto primary = on.host.recv();
                if (primary)
                    on.host.send(header(0, 0x01, 2, static_cast<unsigned>(std::stoul(primary->substr(12, 8), nullptr, 16))));
                call.finish();
            }));
        }
    }
    std::printf("\nround trip (ms)        median      p99\n");
    std::printf("GET /api/status      %8.3f %8.3f\n", percentile(status, 0.5) * 1e3, percentile(status, 0.99) * 1e3);
    std::printf("POST /api/send wait  %8.3f %8.3f\n", percentile(send, 0.5) * 1e3, percentile(send, 0.99) * 1e3);
}

} // namespace

BENCHMARK(BM_RepliesWithApi)->Arg(1)->Arg(16)->UseManualTime()->Iterations(7);
BENCHMARK(BM_RoundTrips)->Iterations(1);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    runBenchmarks(argc, argv);
    // on/off: the median of each iteration's ratio (the two batches ran
    // back to back); CPU: the program's own time per transaction.
    printMedians(g_rates, "median", {{"API on", "on"}, {"API off", "off"}, {"on/off", "on/off", 1, 2},
                                     {"CPU on (us)", "cpu on", 1e6, 1},
                                     {"main on (us)", "main on", 1e6, 1}, {"CPU off (us)", "cpu off", 1e6, 1}});
    return 0;
}
