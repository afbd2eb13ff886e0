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

const QString kS1F1 = QStringLiteral("000181010000000000AA"); // upper case on purpose
const Bytes kS1F1Bytes = {0x00, 0x01, 0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xaa};
const std::string kSentOk = "sent " + kS1F1.toStdString() + " ok";
const std::string kSentFailed = "sent " + kS1F1.toStdString() + " failed";
// The message as it stands joined: E-bit set, block number 1.
Bytes onLine(Bytes message) {
    message[4] = 0x80;
    message[5] = 0x01;
    return message;
}
std::string received(const Bytes& message) {
    return "received " + tovik::toHex(onLine(message));
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
        peer.fd = pty.master;
        configure(driver, pty.slavePath, false);
        driver.SetPortOpen(true);
        ASSERT_TRUE(driver.GetPortOpen());
    }
    RawPty pty;
    CVeltSecsI driver;
    Recorder rec{driver};
    PtyPeer peer{-1, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }, {}};
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

TEST_F(SecsiDriver, UnansweredEnqIsRetriedThenTheSendFails) {
    driver.SendHex(kS1F1);
    ASSERT_TRUE(rec.waitEvents(4));
    EXPECT_EQ(peer.collect(0), (Bytes{kEnq, kEnq})); // first try and one retry
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error 10", "error 10", "error 8", kSentFailed}));
    driver.SendHex(kS1F1); // the line still works
    EXPECT_EQ(peer.receive(), onLine(kS1F1Bytes));
    ASSERT_TRUE(rec.waitEvents(5));
    EXPECT_EQ(rec.events.back(), kSentOk);
}

TEST_F(SecsiDriver, VanishingPortFailsTheSendAndKeepsWhatArrived) {
    ASSERT_TRUE(peer.send(kS1F1Bytes));
    driver.SendHex(kS1F1);
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    pty.close();
    ASSERT_TRUE(rec.waitEvents(3));
    EXPECT_EQ(rec.events, (std::vector<std::string>{received(kS1F1Bytes), "error 16", kSentFailed}));
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
        EXPECT_EQ(code, 14);
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
    EXPECT_EQ(rec.events, (std::vector<std::string>{kSentOk, "error 15"}));
    EXPECT_FALSE(d.GetPortOpen());
}
