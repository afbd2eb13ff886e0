// The driver against real loopback sockets: a second driver instance, and a
// scripted raw peer for every kind of bad input and fault. After each fault the
// passive side must take the next client and answer it normally.
#include "CVeltHsms.h"
#include "HsmsTestPeer.h"

#include <gtest/gtest.h>

using namespace hsmstest;

namespace {

const QString kLocal = QStringLiteral("127.0.0.1");

QString ev(const char* kind, int port, const QString& rest) {
    return QStringLiteral("%1 %2 %3 %4").arg(QLatin1String(kind), kLocal).arg(port).arg(rest);
}
QString up(int port) {
    return ev("conn", port, QStringLiteral("1"));
}
QString down(int port) {
    return ev("conn", port, QStringLiteral("0"));
}
QString recv(int port, const char* hex) {
    return ev("recv", port, QLatin1String(hex));
}
QString error(int port, int code, const char* detail) {
    return ev("error", port, QStringLiteral("%1 %2").arg(code).arg(QLatin1String(detail)));
}
QStringList connected(int port) {
    return {QStringLiteral("peer %1 %2").arg(kLocal).arg(port), up(port)};
}

class HsmsPassive : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApp(); }

    void SetUp() override {
        driver.SetServerMode(true);
        driver.SetLocalPort(0);
        driver.SetPortOpen(true);
        ASSERT_TRUE(driver.GetPortOpen());
        port = driver.GetListeningPort();
        ASSERT_GT(port, 0);
    }

    // Connects `peer`, waits until the driver announced it, gives its port.
    int connectPeer(RawPeer& peer) {
        EXPECT_TRUE(peer.connectTo(port));
        const QString wanted = up(peer.localPort());
        EXPECT_TRUE(pumpUntil([&] { return rec.events.contains(wanted); })) << wanted.toStdString();
        return peer.localPort();
    }

    bool waitFor(const QString& event) {
        return pumpUntil([&] { return rec.events.contains(event); });
    }

    // The peer at port p selects (system bytes 1) and gets the answer.
    void select(RawPeer& peer, int p) {
        peer.send(framed("ffff0000000100000001"));
        ASSERT_TRUE(waitFor(recv(p, "ffff0000000100000001")));
        driver.SendHex(QStringLiteral("ffff0000000200000001"));
        EXPECT_EQ(peer.receive(14), framed("ffff0000000200000001"));
        EXPECT_EQ(driver.GetState(), CVeltHsms::Selected);
    }

    // A new client selects and gets the driver's answer on the wire.
    void expectServesNextClient() {
        ASSERT_TRUE(driver.GetPortOpen());
        RawPeer peer;
        const int p = connectPeer(peer);
        peer.send(framed("ffff0000000100000042"));
        ASSERT_TRUE(waitFor(recv(p, "ffff0000000100000042")));
        driver.SendHex(QStringLiteral("ffff0000000200000042"));
        EXPECT_EQ(peer.receive(14), framed("ffff0000000200000042"));
        EXPECT_EQ(driver.GetState(), CVeltHsms::Selected);
        peer.close();
        EXPECT_TRUE(waitFor(down(p)));
        EXPECT_EQ(driver.GetState(), CVeltHsms::Listening);
    }

    CVeltHsms driver;
    Recorder rec{driver};
    int port = 0;
};

} // namespace

// ---- framing over a real socket

TEST_F(HsmsPassive, MessagesPackedTogetherOrSplitIntoSingleBytesArriveWholeAndInOrder) {
    RawPeer peer;
    const int p = connectPeer(peer);
    peer.send(concat({framed("00018101000000000001"), framed("000181030000000000020102ABCDEF")}));
    const Bytes third = framed("0001810500000000000341ab");
    for (std::uint8_t b : third) {
        peer.send({b});
        pumpFor(1);
    }
    ASSERT_TRUE(waitFor(recv(p, "0001810500000000000341ab")));
    QStringList want = connected(p);
    want << recv(p, "00018101000000000001") << recv(p, "000181030000000000020102abcdef")
         << recv(p, "0001810500000000000341ab");
    EXPECT_EQ(rec.events, want);
}

// ---- bad lengths: the link is dropped, nothing whole before it is lost

struct BadLength {
    const char* name;
    std::uint32_t maxLength;
    std::string goodHex; // a whole message sent just before the bad length, or empty
    Bytes bad;
    const char* detail;
};

class HsmsBadLength : public HsmsPassive, public ::testing::WithParamInterface<BadLength> {};

TEST_P(HsmsBadLength, DropsTheLinkAfterDeliveringEarlierMessages) {
    const BadLength& c = GetParam();
    driver.SetMaxMessageLength(c.maxLength);
    RawPeer peer;
    const int p = connectPeer(peer);
    peer.send(c.goodHex.empty() ? c.bad : concat({framed(c.goodHex), c.bad}));
    EXPECT_TRUE(peer.waitClosed());
    ASSERT_TRUE(waitFor(down(p)));
    QStringList want = connected(p);
    if (!c.goodHex.empty())
        want << recv(p, c.goodHex.c_str());
    want << error(p, -2, c.detail) << down(p);
    EXPECT_EQ(rec.events, want);
    expectServesNextClient();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HsmsBadLength,
    ::testing::Values(
        BadLength{"Garbage", 16u << 20, "", bytesOf("474554202f20485454502f312e300d0a0d0a"),
                  "message length 1195725856 is above the maximum of 16777216 bytes"},
        BadLength{"TwoToThe31", 16u << 20, "00018101000000000001", Bytes{0x80, 0, 0, 0},
                  "message length 2147483648 is above the maximum of 16777216 bytes"},
        BadLength{"BelowHeader", 16u << 20, "", bytesOf("00000009000181010000000000"),
                  "message length 9 is shorter than the 10-byte header"},
        BadLength{"AboveConfigured", 100, "00018101000000000001" + std::string(180, '0'),
                  Bytes{0, 0, 0, 101}, "message length 101 is above the maximum of 100 bytes"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---- timers

TEST_F(HsmsPassive, HalfAMessageThenSilenceRunsOutT8) {
    driver.SetT8Timeout(200);
    RawPeer peer;
    const int p = connectPeer(peer);
    const Bytes second = framed("000181030000000000020102");
    peer.send(concat({framed("00018101000000000001"), Bytes(second.begin(), second.begin() + 8)}));
    EXPECT_TRUE(peer.waitClosed());
    ASSERT_TRUE(waitFor(down(p)));
    EXPECT_EQ(rec.events.mid(2),
              (QStringList{recv(p, "00018101000000000001"),
                           error(p, -4,
                                 "T8: no byte for 200 ms inside a message (8 bytes of it had "
                                 "arrived)"),
                           down(p)}));
    expectServesNextClient();
}

TEST_F(HsmsPassive, ConnectedButNeverSelectedRunsOutT7) {
    driver.SetT7Timeout(200);
    RawPeer peer;
    const int p = connectPeer(peer);
    EXPECT_TRUE(peer.waitClosed());
    ASSERT_TRUE(waitFor(down(p)));
    EXPECT_EQ(rec.events.mid(2),
              (QStringList{error(p, -8, "T7: not selected within 200 ms"), down(p)}));
    driver.SetT7Timeout(10000);
    expectServesNextClient();
}

// A link once selected is the program's: a Separate.req it ignores leaves
// the link up and serving, however long T7 is.
TEST_F(HsmsPassive, SeparatedLinkStaysUpAndServes) {
    RawPeer peer;
    const int p = connectPeer(peer);
    select(peer, p);
    driver.SetT7Timeout(100);
    peer.send(framed("ffff0000000900000002"));
    ASSERT_TRUE(waitFor(recv(p, "ffff0000000900000002")));
    EXPECT_EQ(driver.GetState(), CVeltHsms::Connected);
    pumpFor(800); // eight times T7
    peer.send(framed("00018101000000000003"));
    ASSERT_TRUE(waitFor(recv(p, "00018101000000000003")));
    driver.SendHex(QStringLiteral("00010102000000000003"));
    EXPECT_EQ(peer.receive(14), framed("00010102000000000003"));
    EXPECT_EQ(rec.count(QStringLiteral("error")), 0);
    EXPECT_EQ(rec.count(QStringLiteral("conn")), 1);
}

// Silent for the interval: the driver's own Linktest.req; answered, it and
// its reply stay out of the events; unanswered within T6, the link goes.
TEST_F(HsmsPassive, SilentSelectedLinkIsProbedAndDroppedWithoutLinktestReply) {
    driver.SetLinktestInterval(150);
    driver.SetT6Timeout(300);
    RawPeer peer;
    const int p = connectPeer(peer);
    select(peer, p);

    const Bytes probe = peer.receive(14);
    ASSERT_EQ(probe.size(), 14u);
    EXPECT_EQ(Bytes(probe.begin(), probe.begin() + 10),
              (Bytes{0, 0, 0, 10, 0xff, 0xff, 0, 0, 0, 5})); // Linktest.req
    Bytes answer = probe;
    answer[9] = 6;
    peer.send(answer);
    const Bytes second = peer.receive(14); // silent again: probed again
    ASSERT_EQ(second.size(), 14u);
    EXPECT_EQ(second[9], 5);
    EXPECT_NE(Bytes(second.begin() + 10, second.end()), Bytes(probe.begin() + 10, probe.end()));
    ASSERT_TRUE(waitFor(down(p))); // this one goes unanswered
    const QStringList tail = rec.events.mid(3);
    ASSERT_EQ(tail.size(), 2) << rec.events.join(u'\n').toStdString();
    EXPECT_TRUE(tail[0].startsWith(QStringLiteral("error 127.0.0.1 %1 -7 T6: no reply to Linktest.req").arg(p)));
    EXPECT_EQ(tail[1], down(p));
}

// ---- peers that misbehave at the socket level

TEST_F(HsmsPassive, PeerClosingMidMessageLosesOnlyTheUnfinishedMessage) {
    RawPeer peer;
    const int p = connectPeer(peer);
    const Bytes second = framed("000181030000000000020102");
    peer.send(concat({framed("00018101000000000001"), Bytes(second.begin(), second.end() - 1)}));
    peer.close();
    ASSERT_TRUE(waitFor(down(p)));
    EXPECT_EQ(rec.events.mid(2), (QStringList{recv(p, "00018101000000000001"), down(p)}));
    expectServesNextClient();
}

TEST_F(HsmsPassive, ConnectDisconnectLoopLeavesPairedEvents) {
    std::vector<int> ports;
    for (int i = 0; i < 25; ++i) {
        RawPeer peer;
        ASSERT_TRUE(peer.connectTo(port));
        ports.push_back(peer.localPort());
        if (i % 2)
            pumpFor(1);
    }
    // Every connection is announced, then announced gone, with its port.
    ASSERT_TRUE(pumpUntil([&] { return rec.count(QStringLiteral("conn")) == 50; }))
        << rec.events.join(u'\n').toStdString();
    pumpFor(50);
    EXPECT_EQ(rec.count(QStringLiteral("conn")), 50);
    for (int p : ports) {
        const qsizetype in = rec.events.indexOf(up(p));
        ASSERT_GE(in, 0) << p;
        EXPECT_GT(rec.events.indexOf(down(p)), in);
    }
    EXPECT_EQ(driver.GetClientCount(), 0);
    expectServesNextClient();
}

TEST_F(HsmsPassive, WithOneClientAllowedASecondIsRefusedWithoutDisturbingTheFirst) {
    driver.SetMaxClients(1);
    RawPeer first;
    const int p = connectPeer(first);
    RawPeer second;
    ASSERT_TRUE(second.connectTo(port));
    EXPECT_TRUE(second.waitClosed());
    first.send(framed("00018101000000000007"));
    ASSERT_TRUE(waitFor(recv(p, "00018101000000000007")));
    driver.SendHex(QStringLiteral("00010102000000000007"));
    EXPECT_EQ(first.receive(14), framed("00010102000000000007"));
    QStringList want = connected(p);
    want << ev("refused", second.localPort(), QStringLiteral("1"))
         << recv(p, "00018101000000000007");
    EXPECT_EQ(rec.events, want);
}

// Several hosts at once: each one's bytes are framed on their own (a frame
// split across the hosts' writes does not mix), each send goes to the peer
// RemoteAddress/RemotePort name, and dropping one leaves the others.
TEST_F(HsmsPassive, SeveralClientsAreServedEachOnItsOwn) {
    RawPeer a, b, c;
    const int pa = connectPeer(a);
    const int pb = connectPeer(b);
    const int pc = connectPeer(c);
    EXPECT_EQ(driver.GetClientCount(), 3);
    const Bytes fa = framed("00018101000000000aaa");
    const Bytes fb = framed("00018101000000000bbb");
    a.send(Bytes(fa.begin(), fa.begin() + 7));
    b.send(Bytes(fb.begin(), fb.begin() + 9));
    pumpFor(20);
    a.send(Bytes(fa.begin() + 7, fa.end()));
    b.send(Bytes(fb.begin() + 9, fb.end()));
    ASSERT_TRUE(waitFor(recv(pa, "00018101000000000aaa")));
    ASSERT_TRUE(waitFor(recv(pb, "00018101000000000bbb")));

    driver.SetRemoteAddress(kLocal);
    driver.SetRemotePort(pb);
    driver.SendHex(QStringLiteral("00010102000000000bbb"));
    driver.SetRemotePort(pa);
    driver.SendHex(QStringLiteral("00010102000000000aaa"));
    EXPECT_EQ(b.receive(14), framed("00010102000000000bbb"));
    EXPECT_EQ(a.receive(14), framed("00010102000000000aaa"));

    // A peer that is not connected gets nothing: an error, no guess.
    driver.SetRemotePort(1);
    driver.SendHex(QStringLiteral("00010102000000000001"));
    EXPECT_EQ(rec.events.last(), ev("error", 1, QStringLiteral("-1 no connection with 127.0.0.1(1)")));

    // Dropping the named peer moves the target to the one that spoke last.
    driver.SetRemotePort(pa);
    EXPECT_TRUE(driver.DisconnectClient(kLocal, pa));
    EXPECT_TRUE(a.waitClosed());
    EXPECT_EQ(rec.events.mid(rec.events.size() - 2),
              (QStringList{down(pa), QStringLiteral("peer %1 %2").arg(kLocal).arg(pb)}));
    EXPECT_EQ(driver.GetClientCount(), 2);
    c.send(framed("ffff0000000500000ccc"));
    ASSERT_TRUE(waitFor(recv(pc, "ffff0000000500000ccc")));
    EXPECT_EQ(driver.GetLastSpeaker(), QStringLiteral("127.0.0.1(%1)").arg(pc));
    driver.SetRemotePort(pc);
    driver.SendHex(QStringLiteral("ffff0000000600000ccc"));
    EXPECT_EQ(c.receive(14), framed("ffff0000000600000ccc"));
    EXPECT_EQ(rec.count(QStringLiteral("conn")), 4); // three up, one down
}

// ---- the program's calls

TEST_F(HsmsPassive, OpeningTwiceKeepsTheListenerAndTheClient) {
    RawPeer peer;
    connectPeer(peer);
    driver.SetPortOpen(true);
    EXPECT_TRUE(driver.GetPortOpen());
    EXPECT_EQ(driver.GetListeningPort(), port);
    driver.SendHex(QStringLiteral("00010102000000000009"));
    EXPECT_EQ(peer.receive(14), framed("00010102000000000009"));
    EXPECT_EQ(rec.events, connected(peer.localPort()));
}

TEST_F(HsmsPassive, ClosingWithSendsQueuedReportsOneDisconnectAndReopens) {
    RawPeer peer;
    peer.setReceiveBuffer(4096);
    const int p = connectPeer(peer);
    const QString big = QStringLiteral("00010102000000000009") + QString(2 * 1024 * 1024, u'a');
    for (int i = 0; i < 4; ++i)
        driver.SendHex(big);
    driver.SetPortOpen(false);
    EXPECT_FALSE(driver.GetPortOpen());
    EXPECT_EQ(driver.GetState(), CVeltHsms::Closed);
    pumpFor(50);
    QStringList want = connected(p);
    want << down(p);
    EXPECT_EQ(rec.events, want);

    driver.SetRemoteAddress(QStringLiteral("10.1.2.3"));
    driver.SetRemotePort(6000);
    driver.SendHex(QStringLiteral("00010102000000000009"));
    EXPECT_EQ(rec.events.last(), QStringLiteral("error 10.1.2.3 6000 -1 not connected"));

    driver.SetLocalPort(port);
    driver.SetPortOpen(true);
    ASSERT_TRUE(driver.GetPortOpen());
    EXPECT_EQ(driver.GetListeningPort(), port);
    expectServesNextClient();
}

TEST_F(HsmsPassive, DisconnectClientDropsOnlyTheNamedPeer) {
    RawPeer peer;
    const int p = connectPeer(peer);
    EXPECT_FALSE(driver.DisconnectClient(kLocal, p + 1));
    EXPECT_FALSE(driver.DisconnectClient(QStringLiteral("10.0.0.1"), p));
    EXPECT_EQ(rec.events, connected(p));
    EXPECT_TRUE(driver.DisconnectClient(QStringLiteral("::ffff:127.0.0.1"), p));
    EXPECT_TRUE(peer.waitClosed());
    QStringList want = connected(p);
    want << down(p);
    EXPECT_EQ(rec.events, want);
    expectServesNextClient();
}

TEST_F(HsmsPassive, SendProblemsAreReportedAndTheLinkStays) {
    RawPeer peer;
    const int p = connectPeer(peer);
    driver.SetMaxMessageLength(20);
    driver.SendHex(QStringLiteral("0001zz"));
    driver.SendHex(QStringLiteral("000101"));
    driver.SendHex(QStringLiteral("00010102000000000009") + QString(22, u'0'));
    driver.SendHex(QStringLiteral("00010102 00000000 0009") + QString(20, u'F'));
    EXPECT_EQ(peer.receive(24), framed("00010102000000000009ffffffffffffffffffff"));
    EXPECT_EQ(rec.events.mid(2),
              (QStringList{error(p, -1, "bad hex text: bad hex digit 'z' at position 4"),
                           error(p, -1, "message of 3 bytes is shorter than its header"),
                           error(p, -3, "message of 21 bytes is longer than the maximum of 20")}));
    EXPECT_EQ(driver.GetState(), CVeltHsms::Connected);
}

TEST_F(HsmsPassive, SentMessagesOfEverySizeAndDigitCaseLeaveWhole) {
    RawPeer peer;
    connectPeer(peer);
    // A large message, then small ones: each frame carries its own length
    // and bytes, whatever the one before it held.
    std::string big = "00010101000000000007";
    for (int i = 0; i < 100000; ++i)
        big += "0123456789abcdef"[i % 16];
    driver.SendHex(QString::fromStdString(big));
    driver.SendHex(QStringLiteral("00010103000000000008ABcd"));
    driver.SendHex(QStringLiteral("0001 0105 0000 0000 0009"));
    const Bytes want = concat(
        {framed(big), framed("00010103000000000008abcd"), framed("00010105000000000009")});
    EXPECT_EQ(peer.receive(want.size()), want);
    EXPECT_EQ(rec.events, connected(peer.localPort()));
}

// ---- two drivers

TEST(HsmsPair, PassiveAndActiveDriversExchangeBothWays) {
    ensureApp();
    CVeltHsms passive;
    Recorder pr(passive);
    passive.SetServerMode(true);
    passive.SetLocalPort(0);
    passive.SetPortOpen(true);
    const int listening = passive.GetListeningPort();
    ASSERT_GT(listening, 0);

    CVeltHsms active;
    Recorder ar(active);
    active.SetRemoteAddress(kLocal);
    active.SetRemotePort(listening);
    active.SetPortOpen(true);
    ASSERT_TRUE(active.GetPortOpen());
    EXPECT_TRUE(ar.events.isEmpty()); // announced from the event loop, after the read-back
    ASSERT_TRUE(pumpUntil([&] { return ar.events.size() == 2 && pr.events.size() == 2; }));
    EXPECT_EQ(ar.events, connected(listening));
    const int activePort = pr.events[0].section(u' ', 2, 2).toInt();
    EXPECT_EQ(pr.events, connected(activePort));

    active.SendHex(QStringLiteral("FFFF0000000100000001"));
    ASSERT_TRUE(pumpUntil([&] { return pr.events.size() == 3; }));
    EXPECT_EQ(pr.events[2], recv(activePort, "ffff0000000100000001"));
    passive.SendHex(QStringLiteral("ffff0000000200000001"));
    ASSERT_TRUE(pumpUntil([&] { return ar.events.size() == 3; }));
    EXPECT_EQ(ar.events[2], recv(listening, "ffff0000000200000001"));
    EXPECT_EQ(active.GetState(), CVeltHsms::Selected);
    EXPECT_EQ(passive.GetState(), CVeltHsms::Selected);

    // A reply large enough to cross many segments, after several small ones.
    for (int i = 0; i < 5; ++i)
        active.SendHex(QStringLiteral("00018101000000000%1").arg(100 + i));
    const QString body = QStringLiteral("41") + QString(2 * 300000, u'7');
    passive.SendHex(QStringLiteral("00010102000000000104") + body);
    ASSERT_TRUE(pumpUntil([&] { return pr.events.size() == 8 && ar.events.size() == 4; }));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pr.events[3 + i], QStringLiteral("recv %1 %2 00018101000000000%3")
                                        .arg(kLocal)
                                        .arg(activePort)
                                        .arg(100 + i));
    EXPECT_EQ(ar.events[3],
              QStringLiteral("recv %1 %2 00010102000000000104").arg(kLocal).arg(listening) + body);

    active.SetPortOpen(false);
    EXPECT_EQ(ar.events.last(), down(listening));
    EXPECT_FALSE(active.GetPortOpen());
    ASSERT_TRUE(pumpUntil([&] { return pr.events.last() == down(activePort); }));
    EXPECT_EQ(passive.GetState(), CVeltHsms::Listening);
}

// ---- active side against a raw listener

class HsmsActive : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApp(); }
    void SetUp() override {
        driver.SetRemoteAddress(kLocal);
        driver.SetRemotePort(listener.port());
        driver.SetPortOpen(true);
        ASSERT_TRUE(driver.GetPortOpen());
        ASSERT_TRUE(listener.accept(peer));
        ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 2; }));
        ASSERT_EQ(rec.events, connected(listener.port()));
    }
    RawListener listener;
    RawPeer peer;
    CVeltHsms driver;
    Recorder rec{driver};
};

TEST_F(HsmsActive, UnansweredControlRequestRunsOutT6AndAnsweredOnesDoNot) {
    const int p = listener.port();
    driver.SetT6Timeout(200);
    driver.SendHex(QStringLiteral("ffff0000000500000001"));
    EXPECT_EQ(peer.receive(14), framed("ffff0000000500000001"));
    peer.send(framed("ffff0000000600000001"));
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 3; }));
    driver.SendHex(QStringLiteral("ffff0000000500000002"));
    EXPECT_TRUE(peer.waitClosed());
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 5; }));
    EXPECT_EQ(rec.events.mid(2),
              (QStringList{recv(p, "ffff0000000600000001"),
                           error(p, -7,
                                 "T6: no reply to Linktest.req (system bytes 00000002) "
                                 "within 200 ms"),
                           down(p)}));
    EXPECT_FALSE(driver.GetPortOpen());
}

TEST_F(HsmsActive, PeerCloseIsReportedAndTheNextOpenConnectsAgain) {
    const int p = listener.port();
    peer.send(framed("ffff0000000900000003"));
    peer.close();
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 4; }));
    EXPECT_EQ(rec.events.mid(2), (QStringList{recv(p, "ffff0000000900000003"), down(p)}));
    EXPECT_FALSE(driver.GetPortOpen());
    EXPECT_EQ(driver.GetState(), CVeltHsms::Closed);

    driver.SetPortOpen(true);
    EXPECT_TRUE(driver.GetPortOpen());
    RawPeer again;
    ASSERT_TRUE(listener.accept(again));
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 5; }));
    EXPECT_EQ(rec.events[4], up(p)); // same peer: no PeerChanged
}

// ---- opening and resolving

TEST(HsmsPorts, ListeningOnAPortInUseReadsBackFalse) {
    ensureApp();
    CVeltHsms first;
    first.SetServerMode(true);
    first.SetLocalPort(0);
    first.SetPortOpen(true);
    ASSERT_TRUE(first.GetPortOpen());
    CVeltHsms second;
    second.SetServerMode(true);
    second.SetLocalPort(first.GetListeningPort());
    second.SetPortOpen(true);
    EXPECT_FALSE(second.GetPortOpen());
    EXPECT_EQ(second.GetState(), CVeltHsms::Closed);
}

TEST(HsmsPorts, ConnectingToNobodyReadsBackFalseWithoutEvents) {
    ensureApp();
    int closedPort = 0;
    {
        RawListener gone;
        closedPort = gone.port();
    }
    CVeltHsms driver;
    Recorder rec(driver);
    driver.SetRemoteAddress(kLocal);
    driver.SetRemotePort(closedPort);
    driver.SetPortOpen(true);
    EXPECT_FALSE(driver.GetPortOpen());
    pumpFor(20);
    EXPECT_TRUE(rec.events.isEmpty());
}

TEST(HsmsPorts, ResolveAddressGivesIpTextOrNothing) {
    ensureApp();
    CVeltHsms driver;
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral("localhost")), kLocal);
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral(" 192.168.10.5 ")),
              QStringLiteral("192.168.10.5"));
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral("::ffff:10.0.0.1")), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(driver.ResolveAddress(QString()), QString());
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral("no-such-host.invalid")), QString());
}
