// Link state and deadlines as seen from the messages passing through; "now" is
// given, so the timers are checked without waiting.
#include "HsmsSession.h"
#include "hex.h"

#include <gtest/gtest.h>

using namespace tovik::hsms;

namespace {

std::vector<std::uint8_t> msg(const std::string& hex) {
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(tovik::fromHex(hex, out));
    return out;
}

void receive(Session& s, const std::string& hex, std::int64_t now) {
    const auto m = msg(hex);
    s.received(m.data(), m.size(), now);
}

void send(Session& s, const std::string& hex, std::int64_t now) {
    const auto m = msg(hex);
    s.sent(m.data(), m.size(), now);
}

Session connectedAt(std::int64_t now, Timeouts t = {}) {
    Session s;
    s.setTimeouts(t);
    s.connected(now);
    return s;
}

} // namespace

TEST(HsmsSessionT7, RunsOutWhenNobodySelects) {
    Session s = connectedAt(1000, {5000, 10000, 5000});
    EXPECT_EQ(s.state(), LinkState::NotSelected);
    EXPECT_EQ(s.nextDeadline(), 11000);
    EXPECT_FALSE(s.expired(10999));
    const auto e = s.expired(11000);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->kind, TimerKind::T7);
    EXPECT_EQ(e->detail, "T7: not selected within 10000 ms");
}

TEST(HsmsSessionT7, PassiveSideIsSelectedOnlyByItsOwnAcceptingSelectRsp) {
    Session s = connectedAt(0);
    receive(s, "ffff0000000100000005", 100);
    send(s, "ffff0001000200000005", 150); // status 1: refused
    EXPECT_EQ(s.state(), LinkState::NotSelected);
    EXPECT_EQ(s.nextDeadline(), 10000);
    send(s, "ffff0000000200000005", 200);
    EXPECT_EQ(s.state(), LinkState::Selected);
    EXPECT_FALSE(s.nextDeadline());
    EXPECT_FALSE(s.expired(1'000'000));
}

// Once selected, a link is never T7's again: Separate and Deselect leave it
// not selected with no deadline; a new connection starts over.
TEST(HsmsSessionT7, SeparateAndDeselectReturnToNotSelectedWithoutT7) {
    Session s = connectedAt(0);
    send(s, "ffff0000000200000001", 0);
    receive(s, "ffff0000000900000002", 50000);
    EXPECT_EQ(s.state(), LinkState::NotSelected);
    EXPECT_FALSE(s.nextDeadline());

    send(s, "ffff0000000200000003", 60000 - 1);
    receive(s, "ffff0000000300000004", 70000);
    EXPECT_EQ(s.state(), LinkState::Selected); // a request alone changes nothing
    send(s, "ffff0000000400000004", 70001);
    EXPECT_EQ(s.state(), LinkState::NotSelected);
    EXPECT_FALSE(s.expired(1'000'000));
    s.connected(2'000'000);
    EXPECT_EQ(s.nextDeadline(), 2'010'000);
}

TEST(HsmsSessionLinktest, DueOnlyWhenSelectedAndSilentAndOneAtATime) {
    Session s = connectedAt(0, {1000, 0, 0, 500});
    EXPECT_FALSE(s.nextDeadline()); // not selected: nothing to probe
    send(s, "ffff0000000200000001", 100);
    s.bytesArrived(300, false);
    EXPECT_EQ(s.nextDeadline(), 800);
    EXPECT_FALSE(s.linktestDue(799));
    ASSERT_TRUE(s.linktestDue(800));
    send(s, "ffff00000005fffe0000", 800);
    s.linktestSent(0xfffe0000);
    EXPECT_FALSE(s.linktestDue(5000)); // one out at a time
    EXPECT_EQ(s.nextDeadline(), 1800);  // its T6
    const auto reply = msg("ffff00000006fffe0000");
    EXPECT_FALSE(s.ownLinktestReply(msg("ffff00000006fffe0001").data(), 10));
    s.received(reply.data(), reply.size(), 900);
    s.bytesArrived(900, false);
    EXPECT_TRUE(s.ownLinktestReply(reply.data(), reply.size()));
    EXPECT_FALSE(s.ownLinktestReply(reply.data(), reply.size())); // only once
    EXPECT_EQ(s.nextDeadline(), 1400);
    EXPECT_FALSE(s.expired(1399));
}

TEST(HsmsSessionT6, ActiveSelectIsSettledOnlyByTheMatchingReply) {
    Session s = connectedAt(0, {3000, 0, 0});
    send(s, "ffff0000000100000011", 100);
    EXPECT_EQ(s.nextDeadline(), 3100);
    receive(s, "ffff0000000200000012", 200); // other system bytes
    EXPECT_EQ(s.state(), LinkState::NotSelected);
    const auto e = s.expired(3100);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->kind, TimerKind::T6);
    EXPECT_EQ(e->detail, "T6: no reply to Select.req (system bytes 00000011) within 3000 ms");

    receive(s, "ffff0000000200000011", 300);
    EXPECT_EQ(s.state(), LinkState::Selected);
    EXPECT_FALSE(s.nextDeadline());
}

TEST(HsmsSessionT6, LinktestRepliesAndRejectsSettleTheirOwnRequestOnly) {
    Session s = connectedAt(0, {1000, 0, 0});
    send(s, "ffff0000000500000001", 0);
    send(s, "ffff0000000500000002", 10);
    send(s, "ffff0000000300000003", 20);
    receive(s, "ffff0000000600000001", 30);
    receive(s, "ffff0000000700000003", 40); // Reject.req of the Deselect.req
    ASSERT_EQ(s.nextDeadline(), 1010);
    EXPECT_FALSE(s.expired(1009));
    EXPECT_EQ(s.expired(1010)->detail,
              "T6: no reply to Linktest.req (system bytes 00000002) within 1000 ms");
    // A data message with SType 0 is never taken for a reply.
    receive(s, "00000000000000000002", 50);
    EXPECT_TRUE(s.expired(1010));
}

TEST(HsmsSessionT8, RunsOnlyInsideAMessageAndTheEarliestExpiryComesFirst) {
    Session s = connectedAt(0, {5000, 10000, 2000});
    send(s, "ffff0000000500000001", 0);
    s.bytesArrived(100, true);
    s.bytesArrived(1500, true); // a byte inside the gap restarts it
    EXPECT_EQ(s.nextDeadline(), 3500);
    EXPECT_EQ(s.expired(20000)->kind, TimerKind::T8);
    s.bytesArrived(3000, false);
    EXPECT_EQ(s.nextDeadline(), 5000);
    EXPECT_EQ(s.expired(20000)->kind, TimerKind::T6);
}

TEST(HsmsSessionLifecycle, DisconnectClearsEverythingAndIgnoresLateMessages) {
    Session s = connectedAt(0);
    send(s, "ffff0000000100000001", 0);
    s.bytesArrived(10, true);
    s.disconnected();
    EXPECT_EQ(s.state(), LinkState::NotConnected);
    EXPECT_FALSE(s.nextDeadline());
    receive(s, "ffff0000000200000001", 20);
    EXPECT_EQ(s.state(), LinkState::NotConnected);
    s.connected(100);
    EXPECT_EQ(s.state(), LinkState::NotSelected);
    EXPECT_EQ(s.nextDeadline(), 10100); // the old Select.req is forgotten
}
