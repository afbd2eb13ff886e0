#pragma once
// What the exchange benchmarks share: the raw socket server that answers
// every S1F1 frame with the S1F2 of the benchmark document, the headless
// equipment with its host, batches of transactions with a number of requests
// outstanding, the paired runs of each iteration and the table of medians.
#include "harness.h"

#include <benchmark/benchmark.h>

#include <netinet/tcp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace harness {

inline constexpr int kBatch = 3000;
// The document of the exchange benchmarks: one S1F2, the answer to S1F1.
inline const char* kOneReplyDocument =
    "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n";
// The reply tovik gives to the S1F1 of the benchmark (a document with one S1F2).
inline const std::string kReply = header(0, 0x01, 2, 0) + kS1F2Body;

// Appends the S1F2 answer of every whole frame in `in` to `out` and drops
// the frames from `in`.
inline void answerFrames(Bytes& in, Bytes& out) {
    static const Bytes reply = bytesOf(kReply);
    std::size_t at = 0;
    while (in.size() - at >= 4) {
        const std::size_t len = (std::size_t(in[at]) << 24) | (std::size_t(in[at + 1]) << 16) |
                                (std::size_t(in[at + 2]) << 8) | in[at + 3];
        if (in.size() - at < 4 + len)
            break;
        out.insert(out.end(), {0, 0, 0, static_cast<uint8_t>(reply.size())});
        const std::size_t base = out.size();
        out.insert(out.end(), reply.begin(), reply.end());
        std::copy_n(in.begin() + static_cast<long>(at + 4 + 6), 4, out.begin() + static_cast<long>(base + 6));
        at += 4 + len;
    }
    in.erase(in.begin(), in.begin() + static_cast<long>(at));
}

// Answers every frame with the S1F2 frame, system bytes copied; nothing else.
class RawServer {
public:
    RawServer() {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~RawServer() {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    int port = 0;

private:
    void run() {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Bytes in, out;
        uint8_t buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            in.insert(in.end(), buf, buf + n);
            out.clear();
            answerFrames(in, out);
            if (!out.empty())
                ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    }
    int m_listen = -1;
    std::thread m_thread;
};

// Runs kBatch transactions with `window` requests outstanding.
inline bool runBatch(RawHost& host, int window, unsigned& system) {
    int sent = 0, got = 0;
    while (got < kBatch) {
        while (sent < kBatch && sent - got < window) {
            if (!host.send(header(0, 0x81, 1, system + static_cast<unsigned>(sent))))
                return false;
            ++sent;
        }
        if (!host.recv(5000))
            return false;
        ++got;
    }
    system += static_cast<unsigned>(kBatch);
    return true;
}

template <class F> double timed(F f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Connects `host` to tovik's port and selects; false when either fails.
inline bool selected(RawHost& host, int port, int attempts = 300) {
    return host.connect(port, attempts) && host.send(header(0xffff, 0, 0, 0, 1)) && host.recv();
}

// The baseline of a paired run: a host of the raw server.
struct RawBaseline {
    RawBaseline() { host.connect(server.port); }
    RawServer server;
    RawHost host;
    unsigned system = 1;
};

#ifdef TOVIK_EXE
// A tovik --headless with its port open and a host selected; killed at the
// end. What differs between the programs a benchmark compares: more files
// beside the document, whole sections added to the settings file, options.
struct Equipment {
    explicit Equipment(const Tovik::Files& files = {}, const std::string& settingsSections = {},
                       const QStringList& options = {}, const std::string& document = kOneReplyDocument) {
        settings.localPort = freePort();
        settings.extraSections = settingsSections;
        tovik = std::make_unique<Tovik>(settings, document, true, files, options);
        ok = tovik->waitLine("HSMS port has been opened successfully.") && selected(host, settings.localPort);
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
#endif

// Per key, one figure of every iteration, for the medians printed at the end.
using Rates = std::map<std::string, std::vector<double>>;

// One side of a paired run: its host and the system bytes it sends next.
struct Side {
    std::string name;
    RawHost& host;
    unsigned& system;
};

// Each iteration runs one batch on every side, in order and back to back, so
// all see the same machine load. Rates go to rates["NAME/MODE"]; each pair of
// `ratios` gives the first side's rate over the second's of the same
// iteration, rates["FIRST/SECOND/MODE"], so its median is one of paired
// runs. The iteration's time is the last side's. `beforeBatch(i)` runs before
// side i's batch, and with i = sides.size() after the last one.
inline void pairedRuns(benchmark::State& state, int window, const std::string& mode, const std::vector<Side>& sides,
                       Rates& rates, const std::vector<std::pair<std::string, std::string>>& ratios = {},
                       const std::function<void(std::size_t)>& beforeBatch = {}) {
    for (auto _ : state) {
        bool ok = true;
        std::map<std::string, double> rate;
        for (std::size_t i = 0; i < sides.size() && ok; ++i) {
            if (beforeBatch)
                beforeBatch(i);
            const double t = timed([&] { ok = runBatch(sides[i].host, window, sides[i].system); });
            rate[sides[i].name] = kBatch / t;
            if (i + 1 == sides.size())
                state.SetIterationTime(t);
        }
        if (!ok) {
            state.SkipWithError("a server stopped answering");
            break;
        }
        if (beforeBatch)
            beforeBatch(sides.size());
        for (const auto& [name, r] : rate) {
            rates[name + "/" + mode].push_back(r);
            state.counters[name + " tx/s"] = r;
        }
        for (const auto& [a, b] : ratios)
            rates[a + "/" + b + "/" + mode].push_back(rate[a] / rate[b]);
    }
}

// One column of the table of medians: its title, the key before "/WINDOW",
// a factor and the decimals shown.
struct Column {
    std::string title;
    std::string key;
    double scale = 1;
    int decimals = 0;
};

// The medians per window of requests outstanding (1 and 16), a row each.
inline void printMedians(Rates& rates, const char* title, const std::vector<Column>& columns) {
    std::printf("\n%-16s", title);
    for (const Column& c : columns)
        std::printf(" %*s", std::max<int>(10, static_cast<int>(c.title.size())), c.title.c_str());
    std::printf("\n");
    for (int w : {1, 16}) {
        const std::string window = std::to_string(w);
        std::printf("%-16s", (window + " outstanding").c_str());
        for (const Column& c : columns)
            std::printf(" %*.*f", std::max<int>(10, static_cast<int>(c.title.size())), c.decimals,
                        median(rates[c.key + "/" + window]) * c.scale);
        std::printf("\n");
    }
}

// Google Benchmark's run of every registered benchmark, flags from the command line.
inline void runBenchmarks(int& argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

} // namespace harness
