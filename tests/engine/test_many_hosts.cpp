// tovik --headless as passive equipment with several hosts of our own on raw
// sockets: hosts at once, hosts that come back at once, links kept or closed
// by the timers as the settings say.
#include "harness.h"

#include <gtest/gtest.h>

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
