// The SECS-I port driver on real pseudo-terminals: two drivers talking to each
// other, and a scripted peer playing every fault on the master side.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <memory>

#include "../../common/qt_helpers.h"
#include "CVeltSecsI.h"
#include "hex.h"
#include "pty_pair.h"
#include "secsi_block.h"

using namespace tovik::secsi;
using Bytes = std::vector<uint8_t>;

namespace {

QCoreApplication& app() {
    return tovik::test::testApp<QCoreApplication>();
}

// Everything a driver reports, as text lines in arrival order (line states apart).
struct Recorder {
    std::vector<std::string> events;
    std::vector<std::string> states;
    Bytes sentBytes, receivedBytes;

    explicit Recorder(CVeltSecsI& d) {
        QObject::connect(&d, &CVeltSecsI::MessageReceived,
                         [this](const QString& hex) { events.push_back("received " + hex.toStdString()); });
        QObject::connect(&d, &CVeltSecsI::SendCompleted, [this](const QString& hex, bool ok) {
            events.push_back("sent " + hex.toStdString() + (ok ? " ok" : " failed"));
        });
        QObject::connect(&d, &CVeltSecsI::ErrorOccurred,
                         [this](short code, const QString&) { events.push_back("error " + std::to_string(code)); });
        QObject::connect(&d, &CVeltSecsI::StateChanged,
                         [this](const QString& s) { states.push_back(s.toStdString()); });
        QObject::connect(&d, &CVeltSecsI::ByteTraced, [this](short c, bool received) {
            (received ? receivedBytes : sentBytes).push_back(static_cast<uint8_t>(c));
        });
    }
    bool waitEvents(std::size_t n) {
        return QTest::qWaitFor([&] { return events.size() >= n; }, 5000);
    }
};

void configure(CVeltSecsI& d, const std::string& path, bool master) {
    d.SetDevicePath(QString::fromStdString(path));
    d.SetMasterMode(master);
    d.SetRetryCount(1);
    d.SetT1Timeout(150);
    d.SetT2Timeout(400);
    d.SetT4Timeout(600);
    d.SetDevice(1);
    d.SetBaud(115200);
}

// The test's side of a pty: reads with the event loop running.
struct Peer {
    RawPty& pty;
    Bytes pending;

    void write(const Bytes& b) { ASSERT_EQ(::write(pty.master, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    void drain() {
        uint8_t buf[512];
        ssize_t n;
        while ((n = ::read(pty.master, buf, sizeof buf)) > 0)
            pending.insert(pending.end(), buf, buf + n);
    }
    // The next n bytes the driver writes (empty when they do not come).
    Bytes read(std::size_t n, int ms = 3000) {
        (void)QTest::qWaitFor(
            [&] {
                drain();
                return pending.size() >= n;
            },
            ms);
        if (pending.size() < n)
            return {};
        Bytes out(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }
    // Bytes that arrive within `ms`, however many.
    Bytes collect(int ms) {
        QTest::qWait(ms);
        drain();
        return std::exchange(pending, {});
    }
};

const QString kS1F1 = QStringLiteral("000181010000000000AA"); // upper case on purpose
const Bytes kS1F1Bytes = {0x00, 0x01, 0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xaa};
const std::string kSentOk = "sent " + kS1F1.toStdString() + " ok";
const std::string kSentFailed = "sent " + kS1F1.toStdString() + " failed";
std::string received(Bytes message) {
    message[4] = 0x80; // E-bit of the joined message; block number 1
    message[5] = 0x01;
    return "received " + tovik::toHex(message);
}
// A message of two blocks for device 1, its body all `fill`.
Bytes twoBlocks(uint8_t fill) {
    Bytes m(10 + 300, fill);
    m[0] = 0;
    m[1] = 1;
    return m;
}

QString bigMessage(int body, char sys) {
    QString hex = QStringLiteral("0001060b0000000000") + QLatin1Char('0') + QLatin1Char(sys);
    for (int i = 0; i < body; ++i)
        hex += QStringLiteral("%1").arg(i % 256, 2, 16, QLatin1Char('0'));
    return hex;
}

class SecsiDriver : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(pty.open());
        configure(driver, pty.slavePath, false);
        driver.SetPortOpen(true);
        ASSERT_TRUE(driver.GetPortOpen());
    }
    RawPty pty;
    CVeltSecsI driver;
    Recorder rec{driver};
    Peer peer{pty, {}};

    // ENQ, then the frame once the driver answers EOT; the driver's answer.
    void peerBlock(const Bytes& frame, uint8_t answer = kAck) {
        peer.write({kEnq});
        ASSERT_EQ(peer.read(1), Bytes{kEot});
        peer.write(frame);
        ASSERT_EQ(peer.read(1), Bytes{answer});
    }
    void peerSends(const Bytes& message) {
        for (uint32_t i = 0; i < blockCount(message.size()); ++i)
            peerBlock(frameBlock(message, i, false));
    }
    void driverSends(const QString& hex, const Bytes& bytes) {
        driver.SendHex(hex);
        ASSERT_EQ(peer.read(1), Bytes{kEnq});
        peer.write({kEot});
        ASSERT_EQ(peer.read(frameBlock(bytes, 0, false).size()), frameBlock(bytes, 0, false));
        peer.write({kAck});
    }
};

} // namespace

TEST(SecsiTwoDrivers, SingleAndManyBlockMessagesBothWays) {
    app();
    RawPty a, b;
    ASSERT_TRUE(a.open() && b.open());
    PtyRelay relay(a.master, b.master);
    CVeltSecsI master, slave;
    configure(master, a.slavePath, true);
    configure(slave, b.slavePath, false);
    Recorder masterRec(master), slaveRec(slave);
    master.SetPortOpen(true);
    slave.SetPortOpen(true);
    ASSERT_TRUE(master.GetPortOpen() && slave.GetPortOpen());

    const QString big = bigMessage(1000, '7'); // five blocks
    auto done = [](const Recorder& r) {
        return std::count_if(r.events.begin(), r.events.end(),
                             [](const std::string& e) { return e.rfind("error", 0) != 0; });
    };
    master.SendHex(kS1F1);
    slave.SendHex(big);
    ASSERT_TRUE(QTest::qWaitFor([&] { return done(masterRec) == 2 && done(slaveRec) == 2; }, 10000));
    master.SendHex(big);
    slave.SendHex(kS1F1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return done(masterRec) == 4 && done(slaveRec) == 4; }, 10000));

    Bytes bigBytes;
    ASSERT_TRUE(tovik::fromHex(big.toStdString(), bigBytes));
    const std::string s1f1Rx = received(kS1F1Bytes), bigRx = received(bigBytes);
    // What the master sends carries its R-bit on every block, whatever the
    // text held; the slave takes it for its device all the same.
    auto withRBit = [](Bytes m) {
        m[0] |= 0x80;
        return received(m);
    };
    // Whichever ENQs cross, the master's message goes first; crossings are
    // reported as code 1 and nothing else goes wrong.
    auto messages = [](const Recorder& r) {
        std::vector<std::string> out;
        for (const auto& e : r.events)
            if (e != "error 1")
                out.push_back(e);
        return out;
    };
    const std::string bigOk = "sent " + big.toStdString() + " ok";
    EXPECT_EQ(messages(masterRec), (std::vector<std::string>{kSentOk, bigRx, bigOk, s1f1Rx}));
    EXPECT_EQ(messages(slaveRec),
              (std::vector<std::string>{withRBit(kS1F1Bytes), bigOk, withRBit(bigBytes), kSentOk}));
    // Every character is traced on both sides of the line.
    EXPECT_EQ(masterRec.sentBytes, slaveRec.receivedBytes);
    EXPECT_EQ(slaveRec.sentBytes, masterRec.receivedBytes);
    EXPECT_EQ(master.GetLineState(), QStringLiteral("Idle"));
}

TEST_F(SecsiDriver, NoiseBetweenBlocksIsReportedAndIgnored) {
    const Bytes m = twoBlocks(0x5a);
    peerBlock(frameBlock(m, 0, false));
    peer.write({'n', 'o', 'i', 's', 'e'});
    peer.collect(50);
    peerBlock(frameBlock(m, 1, false));
    ASSERT_TRUE(rec.waitEvents(2));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 1", received(m)}));
}

TEST_F(SecsiDriver, BadChecksumIsNakedAndTheRetryAccepted) {
    Bytes block = frameBlock(kS1F1Bytes, 0, false);
    block.back() ^= 0xff;
    peerBlock(block, kNak);
    peerSends(kS1F1Bytes);
    ASSERT_TRUE(rec.waitEvents(2));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 3", received(kS1F1Bytes)}));
}

TEST_F(SecsiDriver, ShortOrOverlongLengthIsNakedWhenTheLineGoesQuiet) {
    for (uint8_t length : {uint8_t{4}, uint8_t{255}})
        peerBlock({length, 1, 2, 3, 4}, kNak);
    peerSends(kS1F1Bytes);
    ASSERT_TRUE(rec.waitEvents(3));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 2", "error 2", received(kS1F1Bytes)}));
}

TEST_F(SecsiDriver, PeerStoppingMidBlockGetsNakAfterT1) {
    const Bytes block = frameBlock(kS1F1Bytes, 0, false);
    peerBlock(Bytes(block.begin(), block.begin() + 7), kNak);
    ASSERT_TRUE(rec.waitEvents(1));
    EXPECT_EQ(rec.events, std::vector<std::string>{"error 11"});
    driverSends(kS1F1, kS1F1Bytes); // still working
    ASSERT_TRUE(rec.waitEvents(2));
    EXPECT_EQ(rec.events.back(), kSentOk);
}

TEST_F(SecsiDriver, MissingNextBlockIsReportedAfterT4) {
    peerBlock(frameBlock(twoBlocks(0x33), 0, false));
    ASSERT_TRUE(rec.waitEvents(1));
    EXPECT_EQ(rec.events, std::vector<std::string>{"error 9"});
}

TEST_F(SecsiDriver, UnansweredEnqIsRetriedThenTheSendFails) {
    driver.SendHex(kS1F1);
    ASSERT_TRUE(rec.waitEvents(4));
    EXPECT_EQ(peer.collect(0), (Bytes{kEnq, kEnq})); // first try and one retry
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 10", "error 10", "error 8", kSentFailed}));
    driverSends(kS1F1, kS1F1Bytes);
    ASSERT_TRUE(rec.waitEvents(5));
    EXPECT_EQ(rec.events.back(), kSentOk);
}

TEST_F(SecsiDriver, AsSlaveItYieldsToTheMastersEnq) {
    driver.SendHex(kS1F1);
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    Bytes theirs = kS1F1Bytes;
    theirs[9] = 0x01;
    peerSends(theirs); // our ENQ crossed theirs; we answered with EOT
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    peer.write({kEot});
    ASSERT_EQ(peer.read(13), frameBlock(kS1F1Bytes, 0, false));
    peer.write({kAck});
    ASSERT_TRUE(rec.waitEvents(3));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 1", received(theirs), kSentOk}));
}

TEST_F(SecsiDriver, AsMasterItKeepsTheLine) {
    driver.SetPortOpen(false);
    driver.SetMasterMode(true);
    driver.SetPortOpen(true);
    driver.SendHex(kS1F1);
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    peer.write({kEnq});
    EXPECT_TRUE(peer.collect(100).empty()); // no EOT from the master
    peer.write({kEot});
    const Bytes ours = frameBlock(kS1F1Bytes, 0, true);
    ASSERT_EQ(ours[1], 0x80); // R-bit: from the equipment, the line's master
    ASSERT_EQ(peer.read(13), ours);
    peer.write({kAck});
    Bytes theirs = kS1F1Bytes;
    theirs[9] = 0x02;
    peerSends(theirs); // the slave's turn after ours
    ASSERT_TRUE(rec.waitEvents(3));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 1", kSentOk, received(theirs)}));
}

TEST_F(SecsiDriver, VanishingPortFailsTheSendAndKeepsWhatArrived) {
    peerSends(kS1F1Bytes);
    driver.SendHex(kS1F1);
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    pty.close();
    ASSERT_TRUE(rec.waitEvents(3));
    EXPECT_EQ(rec.events, (std::vector<std::string>{received(kS1F1Bytes), "error 4", kSentFailed}));
    EXPECT_FALSE(driver.GetPortOpen());
    EXPECT_EQ(rec.states.back(), "Closed");
    driver.SendHex(kS1F1); // closed: fails at once, no crash
    EXPECT_EQ(rec.events.back(), kSentFailed);
}

TEST_F(SecsiDriver, BadHexFailsWithoutTouchingTheLine) {
    driver.SendHex(QStringLiteral("0001zz"));
    driver.SendHex(QStringLiteral("000181"));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 2", "sent 0001zz failed", "error 2", "sent 000181 failed"}));
    EXPECT_TRUE(peer.collect(50).empty());
}

TEST(SecsiOpen, MissingDeviceReadsBackClosedAndNamesIt) {
    app();
    CVeltSecsI d;
    QStringList details;
    QObject::connect(&d, &CVeltSecsI::ErrorOccurred, [&](short code, const QString& detail) {
        EXPECT_EQ(code, 4);
        details << detail;
    });
    d.SetDevicePath(QStringLiteral("/dev/tovik-no-such-tty"));
    d.SetPortOpen(true);
    EXPECT_FALSE(d.GetPortOpen());
    d.SetDevicePath(QString());
    d.SetPortIndex(9999);
    d.SetPortOpen(true);
    EXPECT_FALSE(d.GetPortOpen());
    ASSERT_EQ(details.size(), 2);
    EXPECT_TRUE(details[0].contains(QStringLiteral("/dev/tovik-no-such-tty"))) << details[0].toStdString();
    EXPECT_TRUE(details[1].contains(QStringLiteral("9999"))) << details[1].toStdString();
}

TEST(SecsiTcp, BlocksTravelOverATcpLineAndAHangUpClosesIt) {
    app();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    CVeltSecsI d;
    Recorder rec(d);
    configure(d, "tcp:127.0.0.1:" + std::to_string(server.serverPort()), false);
    d.SetPortOpen(true);
    ASSERT_TRUE(d.GetPortOpen());
    ASSERT_TRUE(server.waitForNewConnection(3000));
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    auto readN = [&](int n) {
        (void)QTest::qWaitFor([&] { return peer->bytesAvailable() >= n; }, 3000);
        return peer->read(n);
    };
    d.SendHex(kS1F1);
    ASSERT_EQ(readN(1), QByteArray(1, char(kEnq)));
    peer->write(QByteArray(1, char(kEot)));
    const Bytes block = frameBlock(kS1F1Bytes, 0, false);
    ASSERT_EQ(readN(13), QByteArray(reinterpret_cast<const char*>(block.data()), 13));
    peer->write(QByteArray(1, char(kAck)));
    ASSERT_TRUE(rec.waitEvents(1));
    peer->close();
    ASSERT_TRUE(rec.waitEvents(2));
    EXPECT_EQ(rec.events, (std::vector<std::string>{kSentOk, "error 4"}));
    EXPECT_FALSE(d.GetPortOpen());
}
