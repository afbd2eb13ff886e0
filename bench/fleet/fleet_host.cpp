// The scale test's host: one process, raw HSMS frames over loopback, connected
// to every equipment of a fleet. fleet_bench.py starts it beside the fleet and
// reads its lines; it is written to cost little, so that with a thousand
// equipments on two cores its own delay does not pass for theirs.
//
//   fleet_host --count N --base-port P --device-id-from D --seconds S --give-up G [--spread 1]
//              [--coalesce-ms M]
//
// Per equipment it selects, answers S1F13, puts it on-line (S1F17) and enables
// events 3001 and 3002 (S2F37). Once every equipment is ready it prints
// "ready SECONDS"; then, once a second for S seconds (all at the top of the
// second, or spread evenly over it with --spread 1), it sends each one S1F3
// (every status variable; the time to its S1F4 is measured) and S2F41 START or
// STOP by turns, so that the example's script sends one S6F11 a second, each
// answered with S6F12. Three seconds after the last round it prints
//   "result events=E expected=X replies=R late=L worst=W rounds=K"
// and ends. "gave up: ..." (status 1) when the fleet is not ready within G s.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

Bytes hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1]; p += 2)
        out.push_back(static_cast<std::uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    return out;
}

Bytes asciiItem(const char* text) {
    Bytes out{0x41, static_cast<std::uint8_t>(std::strlen(text))};
    out.insert(out.end(), text, text + std::strlen(text));
    return out;
}

const Bytes kS1F14 = hex("01022101000100");                      // { <b 0> { } }
const Bytes kS2F37 = hex("0102250101" "0102b10400000bb9b10400000bba"); // { true { 3001 3002 } }
const Bytes kS1F3 = hex("0100");                                 // { }: every status variable
const Bytes kS6F12 = hex("210100");

Bytes s2f41(const char* command) {
    Bytes out = hex("0102");
    const Bytes name = asciiItem(command);
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0x01);
    out.push_back(0x00);
    return out;
}

const Bytes kStart = s2f41("START");
const Bytes kStop = s2f41("STOP");

enum class State { Connecting, Selecting, Communicating, Onlining, Enabling, Ready };

struct Equipment {
    int index = 0;
    std::uint16_t port = 0;
    std::uint16_t device = 0;
    int fd = -1;
    State state = State::Connecting;
    Bytes in;
    std::uint32_t system = 100;
    std::unordered_map<std::uint32_t, Clock::time_point> s1f3Sent;
    std::unordered_set<std::uint32_t> s2f41Sent;
    bool started = false;
    long eventsExpected = 0;
    long events = 0;
    long replies = 0;
    long late = 0;
    double worst = 0;
};

void sendFrame(Equipment& e, std::uint16_t session, std::uint8_t byte2, std::uint8_t byte3,
               std::uint8_t stype, std::uint32_t system, const Bytes& body = {}) {
    std::uint8_t buf[14 + 64]; // the bodies here are a few bytes
    if (body.size() > 64)
        std::abort();
    const std::uint32_t length = 10 + static_cast<std::uint32_t>(body.size());
    const std::uint8_t head[14] = {std::uint8_t(length >> 24), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
                                   std::uint8_t(length), std::uint8_t(session >> 8), std::uint8_t(session), byte2, byte3,
                                   0, stype, std::uint8_t(system >> 24), std::uint8_t(system >> 16),
                                   std::uint8_t(system >> 8), std::uint8_t(system)};
    std::memcpy(buf, head, 14);
    std::copy(body.begin(), body.end(), buf + 14);
    const std::size_t total = 14 + body.size();
    for (std::size_t done = 0; done < total;) {
        // Blocking: an equipment that stops reading holds the host up, as a
        // real host's blocking write would.
        const ssize_t n = ::send(e.fd, buf + done, total - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// A primary with the next system bytes, which it returns.
std::uint32_t sendPrimary(Equipment& e, std::uint8_t stream, std::uint8_t function, const Bytes& body = {}) {
    sendFrame(e, e.device, static_cast<std::uint8_t>(stream | 0x80), function, 0, ++e.system, body);
    return e.system;
}

void sendReply(Equipment& e, std::uint8_t stream, std::uint8_t function, const Bytes& body, std::uint32_t system) {
    sendFrame(e, e.device, stream, function, 0, system, body);
}

bool connectTo(Equipment& e, int epoll) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(e.port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return false;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    e.fd = fd;
    e.state = State::Selecting;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = &e;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev);
    sendFrame(e, 0xFFFF, 0, 0, 1, 1); // Select.req
    return true;
}

struct Run {
    bool measuring = false;
    int ready = 0;
    Clock::time_point from;       // the first round
    std::vector<long> lateBySecond; // late S1F4 by the second their S1F3 went out
};

void handle(Equipment& e, const std::uint8_t* msg, std::size_t n, Run& run) {
    if (n < 10)
        return;
    const std::uint8_t stream = msg[2] & 0x7F;
    const bool wbit = (msg[2] & 0x80) != 0;
    const std::uint8_t function = msg[3];
    const std::uint8_t stype = msg[5];
    const std::uint32_t system = (std::uint32_t(msg[6]) << 24) | (std::uint32_t(msg[7]) << 16) |
                                 (std::uint32_t(msg[8]) << 8) | msg[9];
    if (stype == 2 && e.state == State::Selecting) {
        e.state = State::Communicating;
    } else if (stype == 5) { // Linktest.req
        sendFrame(e, 0xFFFF, 0, 0, 6, system);
    } else if (stype != 0) {
        return;
    } else if (stream == 1 && function == 13 && wbit) {
        sendReply(e, 1, 14, kS1F14, system);
        if (e.state == State::Communicating) {
            e.state = State::Onlining;
            sendPrimary(e, 1, 17);
        }
    } else if (stream == 1 && function == 18) {
        e.state = State::Enabling;
        sendPrimary(e, 2, 37, kS2F37);
    } else if (stream == 2 && function == 38) {
        if (e.state != State::Ready) {
            e.state = State::Ready;
            ++run.ready;
        }
    } else if (stream == 6 && function == 11) {
        if (wbit)
            sendReply(e, 6, 12, kS6F12, system);
        if (run.measuring)
            ++e.events;
    } else if (stream == 2 && function == 42) {
        const auto it = e.s2f41Sent.find(system);
        if (it == e.s2f41Sent.end())
            return;
        // HCACK 0 in { <b 0> ... }: the command was taken, its event is due.
        static const std::uint8_t accepted[] = {0x01, 0x02, 0x21, 0x01, 0x00};
        if (n >= 15 && std::memcmp(msg + 10, accepted, sizeof accepted) == 0)
            ++e.eventsExpected;
        e.s2f41Sent.erase(it);
    } else if (stream == 1 && function == 4) {
        const auto it = e.s1f3Sent.find(system);
        if (it == e.s1f3Sent.end())
            return;
        const auto sent = it->second;
        e.s1f3Sent.erase(it);
        const double delay = seconds(sent);
        ++e.replies;
        e.worst = std::max(e.worst, delay);
        if (delay > 1.0) {
            ++e.late;
            const auto second = static_cast<std::size_t>(std::max(0.0, std::chrono::duration<double>(sent - run.from).count()));
            if (run.lateBySecond.size() <= second)
                run.lateBySecond.resize(second + 1);
            ++run.lateBySecond[second];
        }
    }
}

void readFrom(Equipment& e, Run& run) {
    std::uint8_t buf[65536];
    const ssize_t n = ::recv(e.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) {
        std::printf("equipment %d closed its connection\n", e.index);
        std::fflush(stdout);
        ::close(e.fd);
        e.fd = -1;
        return;
    }
    if (n < 0)
        return;
    e.in.insert(e.in.end(), buf, buf + n);
    std::size_t at = 0;
    while (e.in.size() - at >= 4) {
        const std::size_t length = (std::size_t(e.in[at]) << 24) | (std::size_t(e.in[at + 1]) << 16) |
                                   (std::size_t(e.in[at + 2]) << 8) | e.in[at + 3];
        if (e.in.size() - at < 4 + length)
            break;
        handle(e, e.in.data() + at + 4, length, run);
        at += 4 + length;
    }
    e.in.erase(e.in.begin(), e.in.begin() + static_cast<std::ptrdiff_t>(at));
}

} // namespace

int main(int argc, char* argv[]) {
    int count = 100;
    int basePort = 21000;
    int deviceFrom = 1;
    int runSeconds = 60;
    double giveUp = 120;
    bool spread = false;
    int coalesceMs = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--count")
            count = std::atoi(value);
        else if (name == "--base-port")
            basePort = std::atoi(value);
        else if (name == "--device-id-from")
            deviceFrom = std::atoi(value);
        else if (name == "--seconds")
            runSeconds = std::atoi(value);
        else if (name == "--give-up")
            giveUp = std::atof(value);
        else if (name == "--spread")
            spread = std::atoi(value) != 0;
        else if (name == "--coalesce-ms")
            coalesceMs = std::atoi(value);
        else {
            std::fprintf(stderr, "fleet_host: unknown argument %s\n", name.c_str());
            return 2;
        }
    }
    std::vector<Equipment> eqs(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        eqs[i].index = i;
        eqs[i].port = static_cast<std::uint16_t>(basePort + i);
        eqs[i].device = static_cast<std::uint16_t>(deviceFrom + i);
    }
    const int epoll = ::epoll_create1(0);
    const auto t0 = Clock::now();
    Run run;
    std::vector<Equipment*> waiting;
    for (auto& e : eqs)
        waiting.push_back(&e);
    auto nextConnect = t0;
    Clock::time_point tick{};
    Clock::time_point endSending{};
    bool sending = false;
    int rounds = 0;
    std::size_t next = 0; // the next equipment of this round
    const auto dueAt = [&](std::size_t i) {
        return tick + (spread ? std::chrono::microseconds(1000000LL * static_cast<long long>(i) / count)
                              : std::chrono::microseconds(0));
    };
    std::vector<epoll_event> events(256);
    for (;;) {
        const auto now = Clock::now();
        // Those not yet connected, four times a second: an equipment still
        // starting refuses, and trying them all every turn would take the
        // cores the starting ones need.
        if (!waiting.empty() && now >= nextConnect) {
            nextConnect = now + std::chrono::milliseconds(250);
            std::erase_if(waiting, [&](Equipment* e) { return connectTo(*e, epoll); });
        }
        if (!sending && run.ready < count && seconds(t0) > giveUp) {
            std::string late;
            int shown = 0;
            for (const auto& e : eqs)
                if (e.state != State::Ready && shown++ < 20)
                    late += (late.empty() ? "" : ", ") + std::to_string(e.index) + " state " +
                            std::to_string(static_cast<int>(e.state));
            std::printf("gave up: %d equipments never got ready: %s\n", count - run.ready, late.c_str());
            return 1;
        }
        int wait = 50;
        if (sending && tick < endSending)
            wait = static_cast<int>(std::clamp<long long>(
                std::chrono::ceil<std::chrono::milliseconds>(dueAt(next) - Clock::now()).count(), 0, 50));
        const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), wait);
        for (int i = 0; i < n; ++i) {
            auto& e = *static_cast<Equipment*>(events[i].data.ptr);
            if (e.fd >= 0)
                readFrom(e, run);
        }
        // Under its real-time policy every wake-up of the host takes the core
        // from an equipment in mid-round. Letting what comes in gather for a
        // moment keeps that to a few hundred a second, as if the host were on
        // a machine of its own; replies are timed a little late, never early.
        if (n > 0 && sending && coalesceMs > 0)
            ::usleep(static_cast<useconds_t>(coalesceMs) * 1000);
        if (!sending && run.ready == count) {
            std::printf("ready %.1f\n", seconds(t0));
            std::fflush(stdout);
            sending = run.measuring = true;
            tick = Clock::now();
            run.from = tick;
            endSending = tick + std::chrono::seconds(runSeconds);
        }
        // A round goes to every equipment at once, or with --spread 1 to
        // equipment i at i/N of the second, as a host polling them in turn.
        while (sending && tick < endSending && next < eqs.size() && Clock::now() >= dueAt(next)) {
            Equipment& e = eqs[next++];
            if (e.fd < 0)
                continue;
            const auto sent = Clock::now();
            e.s1f3Sent[sendPrimary(e, 1, 3, kS1F3)] = sent;
            e.s2f41Sent.insert(sendPrimary(e, 2, 41, e.started ? kStop : kStart));
            e.started = !e.started;
        }
        if (next == eqs.size()) {
            ++rounds;
            tick += std::chrono::seconds(1);
            next = 0;
        }
        if (sending && Clock::now() >= endSending + std::chrono::seconds(3))
            break;
    }
    long events_ = 0, expected = 0, replies = 0, late = 0;
    double worst = 0;
    for (const auto& e : eqs) {
        events_ += e.events;
        expected += e.eventsExpected;
        replies += e.replies;
        late += e.late;
        worst = std::max(worst, e.worst);
    }
    std::string bySecond;
    for (const long n : run.lateBySecond)
        bySecond += " " + std::to_string(n);
    std::printf("late S1F3 by the second they went out:%s\n", bySecond.c_str());
    std::printf("result events=%ld expected=%ld replies=%ld late=%ld worst=%.3f rounds=%d\n", events_, expected,
                replies, late, worst, rounds);
    return 0;
}
