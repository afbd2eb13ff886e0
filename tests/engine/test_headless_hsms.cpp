// tovik --headless as passive HSMS equipment, driven by a host of our own
// over raw sockets: what goes back on the wire, what the log says, and that
// the program survives a host that misbehaves.
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

TEST_F(Equipment, AnswersSelectAndLinktestWithTheRequestsSystemBytes) {
    start();
    select(0x0000002a);
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x12345678, 5)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 0x12345678, 6));
    ASSERT_TRUE(tovik->waitLine("Received LinkTest.Req "));
    EXPECT_EQ(tovik->count("Received Select.Req "), 1u);
    EXPECT_TRUE(tovik->waitLine("Completed", 2));
}

TEST_F(Equipment, AnswersFromTheDocumentWithTheRequestsSystemBytes) {
    start();
    select();
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x00070008)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 0x00070008) + kS1F2Body);
    // A hex-dump definition goes out with the header completed by Tovik.
    ASSERT_TRUE(host.send(header(0, 0x81, 3, 0x99)));
    const auto s1f4 = host.recv();
    ASSERT_TRUE(s1f4);
    EXPECT_EQ(s1f4->substr(0, 20), header(0, 0x01, 4, 0x99));
}

TEST_F(Equipment, PrimaryWithoutDefinitionOrWithABadBodyIsStillAnswered) {
    start();
    select();
    ASSERT_TRUE(host.send(header(0, 0x85, 5, 0x31), "a100"));
    auto reply = host.recv();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->substr(0, 20), header(0, 0x05, 6, 0x31));
    EXPECT_EQ(reply->substr(20, 2), "21"); // no definition: one empty binary item
    // A list header that promises more items than the body holds.
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x70), "0105"));
    reply = host.recv();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->substr(0, 20), header(0, 0x01, 2, 0x70));
}

TEST_F(Equipment, NoReplyWithoutWBitOrWithSeveralCandidates) {
    start();
    select();
    ASSERT_TRUE(host.send(header(0, 0x01, 1, 0x40)));     // S1F1 without W
    ASSERT_TRUE(host.send(header(0, 0x82, 17, 0x41)));    // S2F17 W: two S2F18 definitions
    ASSERT_TRUE(host.send(header(0, 0x81, 2, 0x42)));     // an even function
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x43, 5))); // then a linktest
    // The linktest answer is the very next frame: nothing came before it.
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 0x43, 6));
}

TEST_F(Equipment, WrongDeviceIsAnsweredWithS9F1CarryingTheHeader) {
    start();
    select();
    const std::string wrong = header(5, 0x81, 1, 0x77);
    ASSERT_TRUE(host.send(wrong));
    const auto reply = host.recv();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->substr(0, 12), "000009010000");
    EXPECT_EQ(reply->substr(20), "210a" + wrong);
    // Stream 9 for another device is not answered.
    ASSERT_TRUE(host.send(header(5, 0x09, 3, 0x78), "210a" + wrong));
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x79, 5)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 0x79, 6));
}

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

TEST_F(Equipment, StopsCleanlyOnSigtermWithoutClosingLines) {
    start();
    select();
    EXPECT_EQ(tovik->terminate(), 0);
    EXPECT_EQ(tovik->count("Closed HSMS port"), 0u);
    EXPECT_EQ(tovik->countPrefix("Disconnected with "), 0u);
    EXPECT_TRUE(host.waitClosed()); // the system closed it with the process
}

TEST_F(Equipment, BannerThenPortOpenedAsTheFirstLines) {
    start();
    const auto lines = tovik->lines();
    ASSERT_GE(lines.size(), 17u);
    EXPECT_EQ(lines[0], "****************************************");
    EXPECT_EQ(lines[1], "*   Tovika - A HSMS/SECS Simulator     *");
    EXPECT_EQ(lines[14], "****************************************");
    EXPECT_EQ(lines[15], " ");
    EXPECT_EQ(lines[16], "HSMS port has been opened successfully.");
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

TEST(ActiveSide, ConnectsSelectsAndAnswersThePassivePeer) {
    RawListener listener;
    Settings s;
    s.server = false;
    s.port = listener.port();
    Tovik t(s);
    RawHost peer;
    peer.adopt(listener.accept());
    ASSERT_GE(peer.fd(), 0);

    // The first new primary of the run: system bytes 0.
    EXPECT_EQ(peer.recv(), header(0xffff, 0, 0, 0, 1));
    ASSERT_TRUE(peer.send(header(0xffff, 0, 0, 0, 2)));
    ASSERT_TRUE(peer.send(header(0, 0x81, 1, 0x0a0b0c0d)));
    EXPECT_EQ(peer.recv(), header(0, 0x01, 2, 0x0a0b0c0d) + kS1F2Body);
    ASSERT_TRUE(t.waitLine("Connected with 127.0.0.1(" + std::to_string(s.port) + ")"));

    peer.close();
    EXPECT_TRUE(t.waitLine("Disconnected with 127.0.0.1(" + std::to_string(s.port) + ")"));
}
