// Load figures for the HSMS driver, each next to a raw-socket baseline run in
// the same process:
// - request/reply transactions per second between two drivers (the answering
//   one on its own thread) at 1 and 16 outstanding requests, against a
//   blocking-socket ping-pong of the same frames;
// - replies of one passive driver to 1, 4 and 16 hosts connected at once,
//   each host on its own thread with 4 requests outstanding, every reply
//   addressed as the program does it (RemoteAddress/RemotePort of the peer
//   that spoke), against the ping-pong at 4 outstanding;
// - receive throughput of 1 MiB messages into a driver, against a blocking
//   socket reading the same frames.
// Medians of several repetitions; the ratios are printed at the end.
#include "CVeltHsms.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr int kBatch = 2000;  // transactions per measured iteration
constexpr int kBigCount = 32; // 1 MiB messages per measured iteration
constexpr std::size_t kBigBody = 1024 * 1024;

// An S1F1-sized request with a short body.
const char* const kRequestHex = "00018101000000000001010241024f4e41024f4b";

std::vector<char> frameOf(const std::vector<std::uint8_t>& message) {
    const auto n = static_cast<std::uint32_t>(message.size());
    std::vector<char> out(4 + message.size());
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<char>(n >> (24 - 8 * i));
    std::copy(message.begin(), message.end(), out.begin() + 4);
    return out;
}

std::vector<std::uint8_t> requestBytes() {
    std::vector<std::uint8_t> out;
    const std::string hex = kRequestHex;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

bool writeAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool readAll(int fd, char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// Reads one length-prefixed frame into `buf`; false at end of stream.
bool readFrame(int fd, std::vector<char>& buf) {
    unsigned char len[4];
    if (!readAll(fd, reinterpret_cast<char*>(len), 4))
        return false;
    const std::uint32_t n = (std::uint32_t{len[0]} << 24) | (std::uint32_t{len[1]} << 16) |
                            (std::uint32_t{len[2]} << 8) | len[3];
    buf.resize(4 + n);
    std::copy(len, len + 4, buf.begin());
    return readAll(fd, buf.data() + 4, n);
}

void noDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A connected loopback pair of blocking sockets.
std::pair<int, int> socketPair() {
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(l, 1);
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    const int c = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int s = ::accept(l, nullptr, nullptr);
    ::close(l);
    noDelay(c);
    noDelay(s);
    return {c, s};
}

int connectTo(int port) {
    const int c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    noDelay(c);
    return c;
}

// ---- transactions

void BM_RawPingPong(benchmark::State& state) {
    const int outstanding = static_cast<int>(state.range(0));
    auto [client, server] = socketPair();
    std::thread echo([fd = server] {
        std::vector<char> buf;
        while (readFrame(fd, buf) && writeAll(fd, buf.data(), buf.size())) {
        }
    });
    const std::vector<char> frame = frameOf(requestBytes());
    std::vector<char> reply;
    for (auto _ : state) {
        int sent = 0;
        for (; sent < outstanding; ++sent)
            writeAll(client, frame.data(), frame.size());
        for (int done = 0; done < kBatch; ++done) {
            readFrame(client, reply);
            if (sent < kBatch) {
                writeAll(client, frame.data(), frame.size());
                ++sent;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    ::shutdown(client, SHUT_RDWR);
    echo.join();
    ::close(client);
    ::close(server);
}

// A passive driver on its own thread answering every S1F1 W with S1F2 (same
// system bytes) to the peer that asked, as the program's receive dispatch
// addresses its replies.
class AnsweringPassive {
public:
    AnsweringPassive() {
        std::promise<int> portReady;
        m_thread = QThread::create([&portReady] {
            CVeltHsms passive;
            passive.SetServerMode(true);
            passive.SetLocalPort(0);
            passive.SetT7Timeout(0);
            QObject::connect(&passive, &CVeltHsms::MessageReceived,
                             [&passive](const QString& peer, int peerPort, const QString& hex) {
                                 passive.SetRemoteAddress(peer);
                                 passive.SetRemotePort(peerPort);
                                 QString reply = hex;
                                 reply.replace(4, 4, QStringLiteral("0102"));
                                 passive.SendHex(reply);
                             });
            passive.SetPortOpen(true);
            portReady.set_value(passive.GetListeningPort());
            QEventLoop loop;
            loop.exec();
        });
        m_thread->start();
        port = portReady.get_future().get();
    }
    ~AnsweringPassive() {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
    AnsweringPassive(const AnsweringPassive&) = delete;
    AnsweringPassive& operator=(const AnsweringPassive&) = delete;
    int port = 0;

private:
    QThread* m_thread = nullptr;
};

void BM_DriverPair(benchmark::State& state) {
    const int outstanding = static_cast<int>(state.range(0));
    AnsweringPassive passive;
    const int port = passive.port;

    CVeltHsms active;
    active.SetT7Timeout(0);
    active.SetRemoteAddress(QStringLiteral("127.0.0.1"));
    active.SetRemotePort(port);
    active.SetPortOpen(true);
    const QString request = QString::fromLatin1(kRequestHex);
    int received = 0;
    int sent = 0;
    QEventLoop loop;
    QObject::connect(&active, &CVeltHsms::MessageReceived,
                     [&](const QString&, int, const QString&) {
                         if (++received == kBatch)
                             loop.quit();
                         else if (sent < kBatch) {
                             active.SendHex(request);
                             ++sent;
                         }
                     });
    for (auto _ : state) {
        received = 0;
        for (sent = 0; sent < outstanding; ++sent)
            active.SendHex(request);
        loop.exec();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    active.SetPortOpen(false);
}

// ---- several hosts on one passive port

constexpr int kHostRequests = 4; // outstanding per host

void BM_PassiveHosts(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    AnsweringPassive passive;
    const int port = passive.port;
    std::vector<int> fds;
    for (int i = 0; i < hosts; ++i)
        fds.push_back(connectTo(port));

    const std::vector<char> frame = frameOf(requestBytes());
    const int each = kBatch / hosts;
    for (auto _ : state) {
        std::vector<std::thread> clients;
        for (int fd : fds) {
            clients.emplace_back([&frame, each, fd] {
                std::vector<char> reply;
                int sent = 0;
                for (; sent < kHostRequests; ++sent)
                    writeAll(fd, frame.data(), frame.size());
                for (int done = 0; done < each; ++done) {
                    if (!readFrame(fd, reply))
                        return;
                    if (sent < each) {
                        writeAll(fd, frame.data(), frame.size());
                        ++sent;
                    }
                }
            });
        }
        for (auto& c : clients)
            c.join();
    }
    state.SetItemsProcessed(state.iterations() * each * hosts);
    for (int fd : fds)
        ::close(fd);
}

// ---- 1 MiB receive throughput

std::vector<char> bigFrame() {
    std::vector<std::uint8_t> message = requestBytes();
    message.resize(10);
    message.resize(10 + kBigBody, 0x5a);
    return frameOf(message);
}

void BM_RawReceive1MiB(benchmark::State& state) {
    const std::vector<char> frame = bigFrame();
    std::vector<char> buf;
    for (auto _ : state) {
        auto [client, server] = socketPair();
        std::thread sender([&, fd = client] {
            for (int i = 0; i < kBigCount; ++i)
                writeAll(fd, frame.data(), frame.size());
        });
        for (int i = 0; i < kBigCount; ++i)
            readFrame(server, buf);
        sender.join();
        ::close(client);
        ::close(server);
    }
    state.SetBytesProcessed(state.iterations() * kBigCount * static_cast<int64_t>(frame.size()));
}

void BM_DriverReceive1MiB(benchmark::State& state) {
    const std::vector<char> frame = bigFrame();
    CVeltHsms passive;
    passive.SetServerMode(true);
    passive.SetLocalPort(0);
    passive.SetT7Timeout(0);
    passive.SetPortOpen(true);
    int received = 0;
    QEventLoop loop;
    QObject::connect(&passive, &CVeltHsms::MessageReceived,
                     [&](const QString&, int, const QString& hex) {
                         benchmark::DoNotOptimize(hex.size());
                         if (++received == kBigCount)
                             loop.quit();
                     });
    for (auto _ : state) {
        received = 0;
        const int fd = connectTo(passive.GetListeningPort());
        std::thread sender([&] {
            for (int i = 0; i < kBigCount; ++i)
                writeAll(fd, frame.data(), frame.size());
        });
        loop.exec();
        sender.join();
        ::close(fd);
        // Let the driver see the close before the next client comes.
        while (passive.GetState() != CVeltHsms::Listening)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    state.SetBytesProcessed(state.iterations() * kBigCount * static_cast<int64_t>(frame.size()));
}

BENCHMARK(BM_RawPingPong)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DriverPair)
    ->Arg(1)
    ->Arg(16)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PassiveHosts)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RawReceive1MiB)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DriverReceive1MiB)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// Keeps the median rate of every benchmark so the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            for (const char* key : {"items_per_second", "bytes_per_second"}) {
                auto it = run.counters.find(key);
                if (it != run.counters.end())
                    medians[name] = it->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& m = reporter.medians;
    auto ratio = [&](const char* what, const std::string& driver, const std::string& raw,
                     double scale, const char* unit) {
        if (!m.count(driver) || !m.count(raw))
            return;
        std::printf("%-32s driver %10.1f %s  raw %10.1f %s  ratio %.2f\n", what, m[driver] / scale,
                    unit, m[raw] / scale, unit, m[driver] / m[raw]);
    };
    std::printf("\nMedians, driver against raw sockets in this run:\n");
    ratio("transactions, 1 outstanding", "BM_DriverPair/1", "BM_RawPingPong/1", 1, "tx/s");
    ratio("transactions, 16 outstanding", "BM_DriverPair/16", "BM_RawPingPong/16", 1, "tx/s");
    ratio("receive, 1 MiB messages", "BM_DriverReceive1MiB/", "BM_RawReceive1MiB/", 1e6, "MB/s");
    ratio("1 host x 4 outstanding", "BM_PassiveHosts/1", "BM_RawPingPong/4", 1, "tx/s");
    ratio("4 hosts x 4 outstanding", "BM_PassiveHosts/4", "BM_RawPingPong/4", 1, "tx/s");
    ratio("16 hosts x 4 outstanding", "BM_PassiveHosts/16", "BM_RawPingPong/4", 1, "tx/s");
    ratio("4 hosts against 1 host", "BM_PassiveHosts/4", "BM_PassiveHosts/1", 1, "tx/s");
    ratio("16 hosts against 1 host", "BM_PassiveHosts/16", "BM_PassiveHosts/1", 1, "tx/s");
    return 0;
}
