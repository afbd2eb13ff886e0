// tovik --headless as passive equipment with several hosts of our own on raw
// sockets: hosts at once, hosts that come back at once, links kept or closed
// by the timers as the settings say.
#include "harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace harness;

namespace {

std::string peerText(const RawHost& h) {
    return "127.0.0.1(" + std::to_string(h.localPort()) + ")";
}

struct Hosts : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;

    void start() {
        settings.localPort = freePort();
        tovik = std::make_unique<Tovik>(settings);
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->err();
    }
    static void select(RawHost& h, unsigned system) {
        ASSERT_TRUE(h.send(header(0xffff, 0, 0, system, 1)));
        ASSERT_EQ(h.recv(), header(0xffff, 0, 0, system, 2));
    }
    static void exchange(RawHost& h, unsigned system) {
        ASSERT_TRUE(h.send(header(0, 0x81, 1, system)));
        ASSERT_EQ(h.recv(), header(0, 0x01, 2, system) + kS1F2Body);
    }
};

} // namespace

// Each host keeps four requests outstanding with system bytes of its own and
// must get exactly its own replies, in its own order.
TEST_F(Hosts, TenAtOnceEachGetOnlyItsOwnReplies) {
    settings.showDateTime = false;
    start();
    constexpr int kHosts = 10;
    constexpr unsigned kEach = 150;
    std::vector<std::unique_ptr<RawHost>> hosts;
    for (int i = 0; i < kHosts; ++i) {
        hosts.push_back(std::make_unique<RawHost>());
        ASSERT_TRUE(hosts.back()->connect(settings.localPort));
        select(*hosts.back(), 0xffff0000u + static_cast<unsigned>(i));
    }
    std::vector<std::string> faults(kHosts);
    std::vector<std::thread> threads;
    for (int i = 0; i < kHosts; ++i) {
        threads.emplace_back([&, i] {
            RawHost& h = *hosts[static_cast<std::size_t>(i)];
            const unsigned base = static_cast<unsigned>(i + 1) << 16;
            unsigned sent = 0, got = 0;
            while (got < kEach) {
                while (sent < kEach && sent - got < 4)
                    h.send(header(0, 0x81, 1, base + sent++));
                const auto reply = h.recv(10000);
                if (reply != header(0, 0x01, 2, base + got) + kS1F2Body) {
                    faults[static_cast<std::size_t>(i)] =
                        "reply " + std::to_string(got) + ": " + reply.value_or("none");
                    return;
                }
                ++got;
            }
            if (h.recv(100))
                faults[static_cast<std::size_t>(i)] = "more replies than requests";
        });
    }
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kHosts; ++i)
        EXPECT_EQ(faults[static_cast<std::size_t>(i)], "") << "host " << i;
    for (const auto& h : hosts)
        EXPECT_EQ(tovik->count("Connected with " + peerText(*h)), 1u);
}

TEST_F(Hosts, WithMaxClientsOneTheNewcomerIsRefusedWithTheReason) {
    settings.hsmsExtra = "MaxClients=1\n";
    start();
    RawHost first, second;
    ASSERT_TRUE(first.connect(settings.localPort));
    select(first, 1);
    ASSERT_TRUE(second.connect(settings.localPort));
    EXPECT_TRUE(second.waitClosed());
    EXPECT_TRUE(tovik->waitLine("Refused " + peerText(second) +
                                ": 1 host(s) already connected (MaxClients=1)"));
    exchange(first, 2);
}

// T7 closes a passive link that nobody selects; a link that was selected
// and then sent a Separate.req that Tovik ignores keeps serving.
TEST_F(Hosts, OnlyANeverSelectedLinkRunsOutT7) {
    settings.disconnectAtSeparate = false;
    settings.timeOutExtra = "T7=400\n";
    start();
    RawHost kept, idle;
    ASSERT_TRUE(kept.connect(settings.localPort));
    select(kept, 1);
    ASSERT_TRUE(kept.send(header(0xffff, 0, 0, 2, 9)));
    ASSERT_TRUE(tovik->waitLine("Received Separate.Req "));
    ASSERT_TRUE(idle.connect(settings.localPort));
    EXPECT_TRUE(idle.waitClosed());
    ASSERT_TRUE(tovik->waitLine("Error : T7 time out."));
    EXPECT_EQ(tovik->count("Error (-8) with " + peerText(idle)), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // three times T7
    exchange(kept, 3);
    EXPECT_EQ(tovik->count("Error : T7 time out."), 1u);
    EXPECT_EQ(tovik->countPrefix("Disconnected with "), 1u);
}

// With LinktestInterval a silent selected link gets Tovik's Linktest.req; a
// host that answers stays, one that does not is dropped after T6.
TEST_F(Hosts, SilentHostIsFoundByTheLinktest) {
    settings.hsmsExtra = "LinktestInterval=1\n";
    settings.timeOutExtra = "T6=300\n";
    start();
    RawHost alive, gone;
    ASSERT_TRUE(alive.connect(settings.localPort));
    select(alive, 1);
    ASSERT_TRUE(gone.connect(settings.localPort));
    select(gone, 2);
    const auto probe = alive.recv(5000);
    ASSERT_TRUE(probe);
    ASSERT_EQ(probe->substr(0, 12), "ffff00000005");
    ASSERT_TRUE(alive.send("ffff00000006" + probe->substr(12, 8)));
    // gone never reads: its link is found dead.
    ASSERT_TRUE(tovik->waitLine("Disconnected with " + peerText(gone)));
    const auto lines = tovik->lines();
    const auto at = std::find(lines.begin(), lines.end(), "Error (-7) with " + peerText(gone));
    ASSERT_NE(at, lines.end());
    ASSERT_LT(at + 2, lines.end());
    EXPECT_EQ(*(at + 1), "Error : T6 time out.");
    EXPECT_EQ(*(at + 2), "Disconnected with " + peerText(gone));
    exchange(alive, 3);
    EXPECT_EQ(tovik->countPrefix("Disconnected with "), 1u);
    EXPECT_EQ(tovik->count("Received LinkTest.Rsp "), 0u) << "the driver's own linktests stay out of the log";
}

// A Separate.req closes the connection it came on, however busy the others
// are: every other host keeps 16 requests outstanding throughout and gets
// every reply; only the separating hosts are closed, and the log names them.
TEST_F(Hosts, SeparateClosesOnlyTheHostThatAskedUnderLoad) {
    settings.showBody = false;
    settings.showDateTime = false;
    start();
    for (const int loaded : {1, 9}) {
        std::vector<std::unique_ptr<RawHost>> hosts;
        for (int i = 0; i < loaded; ++i) {
            hosts.push_back(std::make_unique<RawHost>());
            ASSERT_TRUE(hosts.back()->connect(settings.localPort));
            select(*hosts.back(), 0xfff00000u + static_cast<unsigned>(i));
        }
        std::atomic<bool> stop{false};
        std::vector<std::string> faults(hosts.size());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            threads.emplace_back([&, i] {
                RawHost& h = *hosts[i];
                const unsigned base = static_cast<unsigned>(i + 1) << 20;
                unsigned sent = 0, got = 0;
                while (!stop || got < sent) {
                    while (!stop && sent - got < 16)
                        h.send(header(0, 0x81, 1, base + sent++));
                    const auto reply = h.recv(10000);
                    if (reply != header(0, 0x01, 2, base + got) + kS1F2Body) {
                        faults[i] = "reply " + std::to_string(got) + ": " + reply.value_or("none");
                        return;
                    }
                    ++got;
                }
            });
        }
        const std::size_t before = tovik->countPrefix("Disconnected with ");
        constexpr int kRounds = 4;
        std::vector<std::string> names;
        for (int round = 0; round < kRounds; ++round) {
            RawHost a;
            ASSERT_TRUE(a.connect(settings.localPort));
            const std::string name = peerText(a);
            select(a, 0xffe00000u + static_cast<unsigned>(round));
            for (unsigned k = 0; k < 4; ++k)
                ASSERT_TRUE(a.send(header(0, 0x81, 1, 0xf0000000u + k)));
            ASSERT_TRUE(a.send(header(0xffff, 0, 0, 0xf1000000u, 9)));
            EXPECT_TRUE(a.waitClosed()) << "round " << round;
            names.push_back(name);
        }
        stop = true;
        for (auto& t : threads)
            t.join();
        for (std::size_t i = 0; i < hosts.size(); ++i)
            EXPECT_EQ(faults[i], "") << loaded << " loaded, host " << i;
        ASSERT_TRUE(tovik->waitLine("Disconnected with " + names.back()));
        EXPECT_EQ(tovik->countPrefix("Disconnected with "), before + kRounds) << "a loaded host was closed";
        for (const auto& name : names)
            EXPECT_EQ(tovik->count("Disconnected with " + name), 1u);
        hosts.clear();
        ASSERT_TRUE(tovik->waitDisconnects(before + kRounds + static_cast<std::size_t>(loaded)));
    }
}

// Partial messages across hosts are capped: the host whose partial message
// started first is closed with a line saying why; the other finishes its
// message and is answered.
TEST_F(Hosts, PartialMessagesOverTheCapCloseTheOldest) {
    settings.hsmsExtra = "MaxPartialMB=1\n";
    settings.showBody = false;
    start();
    // S1F1 W with a <B> item of 699996 bytes: 700010 bytes after the length field.
    const Bytes whole = framed(header(0, 0x81, 1, 7) + "230aae5c" + std::string(2 * 699996, '1'));
    const Bytes first(whole.begin(), whole.begin() + 600000);
    RawHost oldest, newer;
    ASSERT_TRUE(oldest.connect(settings.localPort));
    select(oldest, 1);
    ASSERT_TRUE(newer.connect(settings.localPort));
    select(newer, 2);
    ASSERT_TRUE(oldest.sendRaw(first));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // read before the newer one's
    exchange(newer, 3);
    ASSERT_TRUE(newer.sendRaw(first));
    EXPECT_TRUE(oldest.waitClosed());
    ASSERT_TRUE(tovik->waitLine("Disconnected with " + peerText(oldest)));
    EXPECT_EQ(tovik->count("Error (-9) with " + peerText(oldest)), 1u);
    EXPECT_EQ(tovik->count("Error : Partial messages over MaxPartialMB=1."), 1u);
    ASSERT_TRUE(newer.sendRaw(Bytes(whole.begin() + 600000, whole.end())));
    EXPECT_EQ(newer.recv(), header(0, 0x01, 2, 7) + kS1F2Body);
    EXPECT_EQ(tovik->countPrefix("Disconnected with "), 1u);
}
