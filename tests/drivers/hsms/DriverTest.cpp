// The driver against real loopback sockets: what only sockets show. The
// protocol itself is traced without sockets in LinkTest.cpp.
#include "../../common/qt_helpers.h"
#include "CVeltHsms.h"
#include "hsms_peer.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace hsmstest;
using tovik::test::pumpFor;
using tovik::test::pumpUntil;

namespace {

const QString kLocal = QStringLiteral("127.0.0.1");

// A raw host that keeps the driver's event loop turning while it waits.
struct Peer : RawHost {
    Peer() : RawHost(tovik::test::pumpOnce) {}
};

// Every driver event as one line: "peer a p", "conn a p 1", "recv a p hex",
// "error a p code detail", "refused a p limit".
struct Recorder {
    explicit Recorder(CVeltHsms& d) {
        QObject::connect(&d, &CVeltHsms::PeerChanged,
                         [this](const QString& a, int p) { add("peer", a, p, {}); });
        QObject::connect(&d, &CVeltHsms::ConnectionChanged, [this](const QString& a, int p, bool c) {
            add("conn", a, p, QString::number(int(c)));
        });
        QObject::connect(&d, &CVeltHsms::MessageReceived,
                         [this](const QString& a, int p, const QString& hex) { add("recv", a, p, hex); });
        QObject::connect(&d, &CVeltHsms::ErrorOccurred, [this](const QString& a, int p, short c, const QString& t) {
            add("error", a, p, QStringLiteral("%1 %2").arg(c).arg(t));
        });
        QObject::connect(&d, &CVeltHsms::ClientRefused, [this](const QString& a, int p, int limit) {
            add("refused", a, p, QString::number(limit));
        });
    }
    void add(const char* kind, const QString& a, int p, const QString& rest) {
        QString line = QStringLiteral("%1 %2 %3").arg(QLatin1String(kind), a).arg(p);
        events << (rest.isNull() ? line : line + u' ' + rest);
    }
    QStringList events;
};

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
    static void SetUpTestSuite() { tovik::test::testApp<QCoreApplication>(); }

    void SetUp() override {
        driver.SetServerMode(true);
        driver.SetLocalPort(0);
        driver.SetPortOpen(true);
        ASSERT_TRUE(driver.GetPortOpen());
        port = driver.GetListeningPort();
        ASSERT_GT(port, 0);
    }

    // Connects `peer`, waits until the driver announced it, gives its port.
    int connectPeer(Peer& peer) {
        EXPECT_TRUE(peer.connect(port, 1));
        EXPECT_TRUE(waitFor(up(peer.localPort())));
        return peer.localPort();
    }
    bool waitFor(const QString& event) {
        return pumpUntil([&] { return rec.events.contains(event); });
    }
    // The peer sends `hex`; the program answers `answer` through SendHex.
    void exchange(Peer& peer, int p, const char* hex, const char* answer) {
        peer.sendRaw(framed(hex));
        ASSERT_TRUE(waitFor(recv(p, hex))) << hex;
        driver.SendHex(QLatin1String(answer));
        EXPECT_EQ(peer.recvRaw(framed(answer).size()), framed(answer));
    }
    // After a fault a new client is served and its going leaves the listener.
    void expectServesNextClient() {
        ASSERT_TRUE(driver.GetPortOpen());
        Peer peer;
        const int p = connectPeer(peer);
        exchange(peer, p, "ffff0000000100000042", "ffff0000000200000042");
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

// The driver's own Linktest.req goes on the wire; answered, it and its reply
// stay out of the events; unanswered within T6, the link goes.
TEST_F(HsmsPassive, SilentSelectedLinkIsProbedAndDroppedWithoutLinktestReply) {
    driver.SetLinktestInterval(150);
    driver.SetT6Timeout(300);
    Peer peer;
    const int p = connectPeer(peer);
    exchange(peer, p, "ffff0000000100000001", "ffff0000000200000001");
    EXPECT_EQ(hexOf(peer.recvRaw(14)), "0000000affff00000005fffe0000");
    peer.send("ffff00000006fffe0000");
    EXPECT_EQ(hexOf(peer.recvRaw(14)), "0000000affff00000005fffe0001");
    ASSERT_TRUE(waitFor(down(p)));
    EXPECT_EQ(rec.events.mid(3),
              (QStringList{error(p, -7, "T6: no reply to Linktest.req (system bytes fffe0001) within 300 ms"),
                           down(p)}));
}

TEST_F(HsmsPassive, PeerClosingMidMessageLosesOnlyTheUnfinishedMessage) {
    Peer peer;
    const int p = connectPeer(peer);
    const Bytes second = framed("000181030000000000020102");
    peer.sendRaw(concat({framed("00018101000000000001"), Bytes(second.begin(), second.end() - 1)}));
    peer.close();
    ASSERT_TRUE(waitFor(down(p)));
    EXPECT_EQ(rec.events.mid(2), (QStringList{recv(p, "00018101000000000001"), down(p)}));
    expectServesNextClient();
}

TEST_F(HsmsPassive, WithOneClientAllowedASecondIsRefusedWithoutDisturbingTheFirst) {
    driver.SetMaxClients(1);
    Peer first, second;
    const int p = connectPeer(first);
    ASSERT_TRUE(second.connect(port, 1));
    EXPECT_TRUE(second.waitClosed());
    exchange(first, p, "00018101000000000007", "00010102000000000007");
    EXPECT_EQ(rec.events, connected(p) + (QStringList{ev("refused", second.localPort(), QStringLiteral("1")),
                                                     recv(p, "00018101000000000007")}));
}

// Several hosts at once: each one's bytes are framed on their own, each
// link has its own state, each send goes to the peer RemoteAddress and
// RemotePort name, and dropping one leaves the others.
TEST_F(HsmsPassive, SeveralClientsAreServedEachOnItsOwn) {
    Peer a, b, c;
    const int pa = connectPeer(a);
    const int pb = connectPeer(b);
    const int pc = connectPeer(c);
    EXPECT_EQ(driver.GetClientCount(), 3);
    const Bytes fa = framed("00018101000000000aaa");
    const Bytes fb = framed("00018101000000000bbb");
    a.sendRaw(Bytes(fa.begin(), fa.begin() + 7));
    b.sendRaw(Bytes(fb.begin(), fb.begin() + 9));
    pumpFor(20);
    a.sendRaw(Bytes(fa.begin() + 7, fa.end()));
    b.sendRaw(Bytes(fb.begin() + 9, fb.end()));
    ASSERT_TRUE(waitFor(recv(pa, "00018101000000000aaa")));
    ASSERT_TRUE(waitFor(recv(pb, "00018101000000000bbb")));

    driver.SetRemoteAddress(kLocal);
    driver.SetRemotePort(pb);
    driver.SendHex(QStringLiteral("ffff0000000200000bbb")); // only b is selected
    driver.SetRemotePort(pa);
    driver.SendHex(QStringLiteral("00010102000000000aaa"));
    EXPECT_EQ(b.recvRaw(14), framed("ffff0000000200000bbb"));
    EXPECT_EQ(a.recvRaw(14), framed("00010102000000000aaa"));
    EXPECT_EQ(driver.GetState(), CVeltHsms::Selected);

    // A peer that is not connected gets nothing: an error, no guess.
    driver.SetRemotePort(1);
    driver.SendHex(QStringLiteral("00010102000000000001"));
    EXPECT_EQ(rec.events.last(), ev("error", 1, QStringLiteral("-1 no connection with 127.0.0.1(1)")));

    // Dropping the named peer moves the target to the one that spoke last.
    driver.SetRemotePort(pb);
    EXPECT_FALSE(driver.DisconnectClient(kLocal, 1));
    EXPECT_TRUE(driver.DisconnectClient(QStringLiteral("::ffff:127.0.0.1"), pb));
    EXPECT_TRUE(b.waitClosed());
    EXPECT_EQ(rec.events.mid(rec.events.size() - 2),
              (QStringList{down(pb), QStringLiteral("peer %1 %2").arg(kLocal).arg(pa)}));
    EXPECT_EQ(driver.GetState(), CVeltHsms::Connected);
    c.send("ffff0000000500000ccc");
    ASSERT_TRUE(waitFor(recv(pc, "ffff0000000500000ccc")));
    EXPECT_EQ(driver.GetLastSpeaker(), QStringLiteral("127.0.0.1(%1)").arg(pc));
    driver.SetRemotePort(pc);
    driver.SendHex(QStringLiteral("ffff0000000600000ccc"));
    EXPECT_EQ(c.recvRaw(14), framed("ffff0000000600000ccc"));
    EXPECT_EQ(rec.events.filter(QStringLiteral("conn ")).size(), 4); // three up, one down
}

TEST_F(HsmsPassive, ClosingWithSendsQueuedReportsOneDisconnectAndReopens) {
    Peer peer;
    peer.setReceiveBuffer(4096);
    const int p = connectPeer(peer);
    driver.SetPortOpen(true); // already open: nothing changes
    EXPECT_EQ(driver.GetListeningPort(), port);
    const QString big = QStringLiteral("00010102000000000009") + QString(2 * 1024 * 1024, u'a');
    for (int i = 0; i < 4; ++i)
        driver.SendHex(big);
    driver.SetPortOpen(false);
    EXPECT_FALSE(driver.GetPortOpen());
    EXPECT_EQ(driver.GetState(), CVeltHsms::Closed);
    pumpFor(50);
    EXPECT_EQ(rec.events, connected(p) + (QStringList{down(p)}));

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

// A peer that does not read: what the kernel does not take waits in the
// driver up to its cap, further sends are refused with the link kept, and
// once the peer reads, every message accepted arrives whole and in order.
TEST_F(HsmsPassive, APeerThatDoesNotReadIsRefusedMoreAndLaterGetsAllAccepted) {
    Peer peer;
    peer.setReceiveBuffer(4096);
    const int p = connectPeer(peer);
    QByteArray message(2 * 1024 * 1024, 'x');
    for (int i = 0; i < 40; ++i) {
        message[9] = static_cast<char>(i); // system bytes' last
        driver.SendMessage(message);
    }
    const QString refused = ev("error", p, QStringLiteral("-1 the peer is not reading: "));
    const auto refusals = std::count_if(rec.events.begin(), rec.events.end(),
                                        [&](const QString& e) { return e.startsWith(refused); });
    ASSERT_GE(refusals, 1);
    ASSERT_LE(refusals, 10);
    EXPECT_EQ(driver.GetState(), CVeltHsms::Connected);
    Bytes want = {0x00, 0x20, 0x00, 0x00};
    want.insert(want.end(), message.begin(), message.end());
    for (int i = 0; i < 40 - refusals; ++i) {
        want[4 + 9] = static_cast<uint8_t>(i);
        ASSERT_EQ(peer.recvRaw(want.size()), want) << "message " << i;
    }
    EXPECT_TRUE(peer.recvRaw(1, 200).empty());
}

// What the program hands over leaves whole, in order, with its own length:
// large after small, any digit case, blanks between pairs; what cannot be
// sent is reported and the link stays.
TEST_F(HsmsPassive, SentMessagesLeaveWholeAndSendProblemsAreReported) {
    Peer peer;
    const int p = connectPeer(peer);
    std::string big = "00010101000000000007";
    for (int i = 0; i < 100000; ++i)
        big += "0123456789abcdef"[i % 16];
    driver.SendHex(QString::fromStdString(big));
    driver.SendHex(QStringLiteral("00010103000000000008ABcd"));
    driver.SendMessage(QByteArray::fromHex("00010105000000000009"));
    const Bytes want =
        concat({framed(big), framed("00010103000000000008abcd"), framed("00010105000000000009")});
    EXPECT_EQ(peer.recvRaw(want.size()), want);

    driver.SetMaxMessageLength(20);
    driver.SendHex(QStringLiteral("0001zz"));
    driver.SendHex(QStringLiteral("000101"));
    driver.SendHex(QStringLiteral("00010102000000000009") + QString(22, u'0'));
    driver.SendHex(QStringLiteral("00010102 00000000 0009") + QString(20, u'F'));
    EXPECT_EQ(peer.recvRaw(24), framed("00010102000000000009ffffffffffffffffffff"));
    EXPECT_EQ(rec.events.mid(2),
              (QStringList{error(p, -1, "bad hex text: bad hex digit 'z' at position 4"),
                           error(p, -1, "message of 3 bytes is shorter than its header"),
                           error(p, -3, "message of 21 bytes is longer than the maximum of 20")}));
    EXPECT_EQ(driver.GetState(), CVeltHsms::Connected);
}

TEST(HsmsPair, PassiveAndActiveDriversExchangeBothWays) {
    tovik::test::testApp<QCoreApplication>();
    CVeltHsms passive;
    Recorder pr(passive);
    passive.SetServerMode(true);
    passive.SetLocalPort(0);
    passive.SetPortOpen(true);
    const int listening = passive.GetListeningPort();
    ASSERT_GT(listening, 0);

    CVeltHsms active;
    Recorder ar(active);
    QList<QByteArray> bytes;
    QObject::connect(&active, &CVeltHsms::MessageArrived,
                     [&](const QString&, int, const QByteArray& m) { bytes << m; });
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
    EXPECT_EQ(bytes, QList<QByteArray>{QByteArray::fromHex("ffff0000000200000001")});
    EXPECT_EQ(active.GetState(), CVeltHsms::Selected);
    EXPECT_EQ(passive.GetState(), CVeltHsms::Selected);

    // A reply large enough to cross many segments.
    const QString body = QStringLiteral("41") + QString(2 * 300000, u'7');
    passive.SendHex(QStringLiteral("00010102000000000104") + body);
    ASSERT_TRUE(pumpUntil([&] { return ar.events.size() == 4; }));
    EXPECT_EQ(ar.events[3], QStringLiteral("recv %1 %2 00010102000000000104").arg(kLocal).arg(listening) + body);

    active.SetPortOpen(false);
    EXPECT_EQ(ar.events.last(), down(listening));
    EXPECT_FALSE(active.GetPortOpen());
    ASSERT_TRUE(pumpUntil([&] { return pr.events.last() == down(activePort); }));
    EXPECT_EQ(passive.GetState(), CVeltHsms::Listening);
}

TEST(HsmsActive, PeerCloseIsReportedAndTheNextOpenConnectsAgain) {
    tovik::test::testApp<QCoreApplication>();
    RawListener listener;
    CVeltHsms driver;
    Recorder rec(driver);
    const int p = listener.port();
    driver.SetRemoteAddress(kLocal);
    driver.SetRemotePort(p);
    driver.SetPortOpen(true);
    Peer peer;
    peer.adopt(listener.accept(10000, tovik::test::pumpOnce));
    peer.send("ffff0000000900000003");
    peer.close();
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 4; }));
    EXPECT_EQ(rec.events, connected(p) + (QStringList{recv(p, "ffff0000000900000003"), down(p)}));
    EXPECT_FALSE(driver.GetPortOpen());
    EXPECT_EQ(driver.GetState(), CVeltHsms::Closed);

    driver.SetPortOpen(true);
    Peer again;
    again.adopt(listener.accept(10000, tovik::test::pumpOnce));
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() == 5; }));
    EXPECT_EQ(rec.events[4], up(p)); // same peer: no PeerChanged
}

TEST(HsmsPorts, OpeningFailuresReadBackFalseWithoutEvents) {
    tovik::test::testApp<QCoreApplication>();
    CVeltHsms first;
    first.SetServerMode(true);
    first.SetLocalPort(0);
    first.SetPortOpen(true);
    ASSERT_TRUE(first.GetPortOpen());
    CVeltHsms second;
    Recorder rec(second);
    second.SetServerMode(true);
    second.SetLocalPort(first.GetListeningPort()); // in use
    second.SetPortOpen(true);
    EXPECT_FALSE(second.GetPortOpen());
    EXPECT_EQ(second.GetState(), CVeltHsms::Closed);
    second.SetServerMode(false);
    second.SetRemoteAddress(kLocal);
    second.SetRemotePort(freePort()); // nobody listens
    second.SetPortOpen(true);
    EXPECT_FALSE(second.GetPortOpen());
    pumpFor(20);
    EXPECT_TRUE(rec.events.isEmpty());
}

TEST(HsmsPorts, ResolveAddressGivesIpTextOrNothing) {
    tovik::test::testApp<QCoreApplication>();
    CVeltHsms driver;
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral("localhost")), kLocal);
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral(" 192.168.10.5 ")), QStringLiteral("192.168.10.5"));
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral("::ffff:10.0.0.1")), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(driver.ResolveAddress(QString()), QString());
    EXPECT_EQ(driver.ResolveAddress(QStringLiteral("no-such-host.invalid")), QString());
}
