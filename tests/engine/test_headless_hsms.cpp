// tovik --headless as passive HSMS equipment, driven by a host of our own
// over raw sockets: what only the running program shows (its first lines,
// signals, a broken document, a host that leaves and comes back, a long run
// of requests).
#include "harness.h"

#include <gtest/gtest.h>

#include <set>

using namespace harness;

namespace {

struct Equipment : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;

    void start(const std::string& document = kDocument, bool writeDocument = true) {
        settings.localPort = freePort();
        tovik = std::make_unique<Tovik>(settings, document, writeDocument);
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->err();
        ASSERT_TRUE(host.connect(settings.localPort));
    }
    void select(unsigned system = 0x1001) {
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, system, 1)));
        EXPECT_EQ(host.recv(), header(0xffff, 0, 0, system, 2));
    }
};

} // namespace

TEST_F(Equipment, SeparateDropsTheLinkAndTheHostCanComeBack) {
    start();
    select();
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x50, 9)));
    EXPECT_TRUE(host.waitClosed());
    ASSERT_TRUE(tovik->waitLine("Received Separate.Req "));
    host.close();
    ASSERT_TRUE(tovik->waitDisconnects(1));
    ASSERT_TRUE(host.connect(settings.localPort));
    select(0x51);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x52)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 0x52) + kS1F2Body);
}

TEST_F(Equipment, HostVanishingMidMessageLeavesTheNextOneServed) {
    start();
    select(0x60);
    // Half a frame, then the host vanishes mid-transaction (impossible length
    // fields are tried in tests/abuse).
    ASSERT_TRUE(host.sendRaw({0, 0, 0, 20, 0, 0, 0x81, 1}));
    host.close();
    // Tovik sees the half frame go with its connection.
    ASSERT_TRUE(tovik->waitDisconnects(1));

    ASSERT_TRUE(host.connect(settings.localPort));
    select(0x61);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x62)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 0x62) + kS1F2Body);
    EXPECT_EQ(tovik->proc.state(), QProcess::Running);
}

TEST_F(Equipment, KeepsSixteenOutstandingRequestsInOrder) {
    settings.showDateTime = false;
    start();
    select();
    const unsigned total = 3000;
    unsigned sent = 0, got = 0;
    std::set<unsigned> seen;
    unsigned expect = 0x10000;
    while (got < total) {
        while (sent < total && sent - got < 16)
            ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x10000 + sent++)));
        const auto reply = host.recv();
        ASSERT_TRUE(reply) << "after " << got << " replies";
        const unsigned system = static_cast<unsigned>(std::stoul(reply->substr(12, 8), nullptr, 16));
        ASSERT_EQ(system, expect) << "replies out of order or lost";
        ASSERT_TRUE(seen.insert(system).second) << "duplicate reply";
        ASSERT_EQ(*reply, header(0, 0x01, 2, system) + kS1F2Body);
        ++expect;
        ++got;
    }
    EXPECT_FALSE(host.recv(200)) << "more replies than requests";
}

TEST_F(Equipment, BannerAndPortFirstThenSigtermStopsWithoutClosingLines) {
    start();
    const auto lines = tovik->lines();
    ASSERT_GE(lines.size(), 17u);
    EXPECT_EQ(lines[0], "****************************************");
    EXPECT_EQ(lines[1], "*   Tovika - A HSMS/SECS Simulator     *");
    EXPECT_EQ(lines[14], "****************************************");
    EXPECT_EQ(lines[15], " ");
    EXPECT_EQ(lines[16], "HSMS port has been opened successfully.");
    select();
    EXPECT_EQ(tovik->terminate(), 0);
    EXPECT_EQ(tovik->count("Closed HSMS port"), 0u);
    EXPECT_EQ(tovik->countPrefix("Disconnected with "), 0u);
    EXPECT_TRUE(host.waitClosed()); // the system closed it with the process
}

TEST_F(Equipment, SyntaxErrorKeepsTheDefinitionsBeforeIt) {
    start(std::string(kDocument).substr(0, 80) + "\r\n'broken\r\nBegin Junk\r\n");
    // The box's text and its detail on one line of standard error.
    const std::string err = tovik->err();
    const std::size_t at = err.find("tovik: Syntax error: equipment.tvkm, line ");
    ASSERT_NE(at, std::string::npos) << err;
    const std::string line = err.substr(at, err.find('\n', at) - at);
    EXPECT_NE(line.find(" parse error; Last token was "), std::string::npos) << line;
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 4) + kS1F2Body);
}

