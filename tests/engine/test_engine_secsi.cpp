// The engine over SECS-I on pseudo-terminals, with a second SECS-I driver
// playing the host, and the HSMS=SECS bridge with a raw HSMS host on the
// other side.
#include "engine_fixture.h"
#include "pty_pair.h"

#include "CVeltSecsI.h"

#include <gtest/gtest.h>

using namespace harness;

namespace {

// A long ASCII answer so that the reply needs several blocks.
std::string bigDocument() {
    return std::string(kDocument) + "'S1F4 Long'\r\nBegin List\r\ns1f4\r\n<a'" + std::string(600, 'x') +
           "'>\r\nEnd List\r\n\r\n";
}

struct SecsLine {
    RawPty tovikSide, hostSide;
    std::unique_ptr<PtyRelay> relay;
    CVeltSecsI host;
    std::vector<std::string> received;
    std::vector<std::string> completed;

    SecsLine() {
        qtApp();
        EXPECT_TRUE(tovikSide.open());
        EXPECT_TRUE(hostSide.open());
        relay = std::make_unique<PtyRelay>(tovikSide.master, hostSide.master);
        QObject::connect(&host, &CVeltSecsI::MessageReceived,
                         [this](const QString& hex) { received.push_back(hex.toStdString()); });
        QObject::connect(&host, &CVeltSecsI::SendCompleted, [this](const QString& hex, bool ok) {
            completed.push_back(hex.toStdString() + (ok ? " ok" : " failed"));
        });
        host.SetDevicePath(QString::fromStdString(hostSide.slavePath));
        host.SetMasterMode(false); // Tovik is master by default
        host.SetDevice(0);
        host.SetBaud(115200);
        host.SetT1Timeout(300);
        host.SetT2Timeout(1000);
        host.SetT4Timeout(2000);
        host.SetRetryCount(2);
    }
    bool open() {
        host.SetPortOpen(true);
        return host.GetPortOpen();
    }
    std::optional<std::string> next(int ms = 8000) {
        if (!QTest::qWaitFor([&] { return !received.empty(); }, ms))
            return std::nullopt;
        std::string m = received.front();
        received.erase(received.begin());
        return m;
    }
};

// Tovik on one end of the line, the host driver open on the other.
void startSecs(SecsLine& line, Engine& e, Settings& s, const std::string& document = kDocument) {
    s.protocol = 1;
    s.devicePath = line.tovikSide.slavePath;
    e.start(s, document);
    ASSERT_TRUE(e.waitLine("SECS port has been opened successfully."));
    ASSERT_TRUE(line.open());
}

// Tovik as the bridge between the line and a raw HSMS host of ours.
void startBridge(SecsLine& line, Engine& e, Settings& s, RawHost& host) {
    s.protocol = 3;
    s.devicePath = line.tovikSide.slavePath;
    s.localPort = freePort();
    e.start(s);
    ASSERT_TRUE(e.waitLine("HSMS port has been opened successfully."));
    ASSERT_TRUE(line.open());
    ASSERT_TRUE(host.connect(s.localPort));
}

// Bytes 0-3 and 6-9 of a header: the line driver owns the block fields.
std::string secsKey(const std::string& hex) { return hex.substr(0, 8) + hex.substr(12, 8); }

} // namespace

TEST(SecsI, AnswersAutomaticallyIncludingManyBlockMessages) {
    SecsLine line;
    Settings s;
    Engine e;
    ASSERT_NO_FATAL_FAILURE(startSecs(line, e, s, bigDocument()));

    line.host.SendHex(QString::fromStdString(header(0, 0x81, 1, 0x21)));
    auto reply = line.next();
    ASSERT_TRUE(reply);
    // Tovik is the master (the equipment): R-bit set on what it sends.
    EXPECT_EQ(secsKey(*reply), secsKey(header(0x8000, 0x01, 2, 0x21)));
    EXPECT_EQ(reply->substr(20), kS1F2Body);

    // 600 bytes of text do not fit one block: the reply comes in several.
    line.host.SendHex(QString::fromStdString(header(0, 0x81, 3, 0x22)));
    reply = line.next();
    ASSERT_TRUE(reply);
    EXPECT_EQ(secsKey(*reply), secsKey(header(0x8000, 0x01, 4, 0x22)));
    EXPECT_EQ(reply->substr(20, 6), "420258"); // ASCII, 2 length bytes, 600
    EXPECT_EQ(reply->size(), 20u + 6u + 1200u);

    // A many-block primary from the host is joined and answered.
    line.host.SendHex(QString::fromStdString(header(0, 0x85, 5, 0x23) + "2202bc" + std::string(1400, 'a')));
    reply = line.next();
    ASSERT_TRUE(reply);
    EXPECT_EQ(secsKey(*reply), secsKey(header(0x8000, 0x05, 6, 0x23)));
}

TEST(SecsI, SentPrimaryIsRecordedWhenTheLineTookItAndSettledByTheReply) {
    SecsLine line;
    Settings s;
    s.verbose = true;
    Engine e;
    ASSERT_NO_FATAL_FAILURE(startSecs(line, e, s));

    e.send(QStringLiteral("S1F1 Are You There"));
    EXPECT_TRUE(e.view->SentPrimaries.IsEmpty()); // not before the line took it
    const auto s1f1 = line.next();
    ASSERT_TRUE(s1f1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->GetAwaitingReply(); }, 5000));
    EXPECT_EQ(e.view->SentPrimaries.GetCount(), 1u);

    line.host.SendHex(QString::fromStdString("000001020000" + s1f1->substr(12, 8)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->SentPrimaries.IsEmpty(); }, 5000));
    EXPECT_FALSE(e.view->GetAwaitingReply());

    // The byte trace: a label line, then lines of at most ten bytes, the
    // host's ENQ (05) first among the received ones.
    ASSERT_TRUE(e.waitLine("Received", 1) && e.waitLine("Sent", 1));
    bool sawEnq = false;
    for (std::size_t i = 0; i + 1 < e.log.size(); ++i) {
        if (e.log[i] != "Received")
            continue;
        const std::string& bytes = e.log[i + 1];
        EXPECT_LE(bytes.size(), 30u);
        EXPECT_EQ(bytes.size() % 3, 0u);
        sawEnq = sawEnq || bytes.rfind(" 05", 0) == 0 || bytes.rfind(" 04", 0) == 0;
    }
    EXPECT_TRUE(sawEnq);
}

TEST(SecsI, MissingLineIsReported) {
    Settings s;
    s.protocol = 1;
    s.devicePath = "/dev/tovik-no-such-line";
    Engine e;
    e.start(s);
    ASSERT_TRUE(e.waitLine("Error : Cannot open SECS port."));
    EXPECT_TRUE(e.waitLine("Closed SECS port."));
    // The toggle stays on; the next Connect switches off.
    EXPECT_TRUE(e.view->GetConnected());
}

TEST(Bridge, RelaysBothWaysUnchangedWithEventMessages) {
    SecsLine line;
    Settings s;
    s.invokeEvent = true;
    Engine e;
    RawHost host;
    ASSERT_NO_FATAL_FAILURE(startBridge(line, e, s, host));

    // A control message is relayed, not answered.
    const std::string linktest = header(0xffff, 0, 0, 0x0102, 5);
    ASSERT_TRUE(host.send(linktest));
    auto relayed = line.next();
    ASSERT_TRUE(relayed);
    EXPECT_EQ(secsKey(*relayed), secsKey(linktest));
    EXPECT_EQ(e.count("Received LinkTest.Req "), 1u);

    // The line took it: the host hears of it in an event message.
    auto event = recvPumping(host);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->substr(4, 4), "6363"); // S99F99 without W-bit
    EXPECT_NE(event->find(hexOf(Bytes(linktest.begin(), linktest.end()))), std::string::npos)
        << "the report names the message written";

    // A data message for another device goes through too: no S9F1 in a bridge.
    const std::string primary = header(7, 0x81, 1, 0x0304);
    ASSERT_TRUE(host.send(primary, "a100"));
    relayed = line.next();
    ASSERT_TRUE(relayed);
    EXPECT_EQ(secsKey(*relayed), secsKey(header(0x8007, 0x81, 1, 0x0304))); // Tovik is master
    EXPECT_EQ(relayed->substr(20), "a100");
    ASSERT_TRUE(recvPumping(host)); // its write report

    // From the line to the host: bytes 4-5 become PType 0, SType 0.
    line.host.SendHex(QString::fromStdString(header(0, 0x01, 2, 0x0304) + "2100"));
    auto back = recvPumping(host);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, header(0, 0x01, 2, 0x0304) + "2100");
    EXPECT_TRUE(e.view->SentPrimaries.IsEmpty());
    EXPECT_TRUE(e.view->ReceivedPrimaries.IsEmpty());
}

// Tovik between a standard HSMS host and SECS-I equipment: Tovik is the
// line's slave, the equipment its master. BridgeSession 0 relays the host's
// control messages as they are; 1 answers them on the HSMS side. Either way
// the link stays up far beyond T7 and data crosses with the headers each
// side's standard asks for.
class BridgeLink : public ::testing::TestWithParam<bool> {};

TEST_P(BridgeLink, StaysUpAndCarriesHeadersByEachStandard) {
    const bool session = GetParam();
    SecsLine line;
    line.host.SetMasterMode(true); // the equipment
    line.host.SetDevice(5);
    Settings s;
    s.master = false;
    s.deviceId = 5;
    s.hsmsExtra = session ? "BridgeSession=1\n" : "";
    s.timeOutExtra = "T7=150\n";
    Engine e;
    RawHost host;
    ASSERT_NO_FATAL_FAILURE(startBridge(line, e, s, host));

    const struct {
        unsigned sType;
        unsigned system;
    } controls[] = {{1, 0x11}, {5, 0x12}, {3, 0x13}}; // Select, Linktest, Deselect
    for (const auto& c : controls) {
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, c.system, c.sType)));
        if (session) {
            EXPECT_EQ(recvPumping(host), header(0xffff, 0, 0, c.system, c.sType + 1));
        } else {
            const auto relayed = line.next();
            ASSERT_TRUE(relayed);
            EXPECT_EQ(secsKey(*relayed), secsKey(header(0x7fff, 0, 0, c.system))) << "R-bit 0 from the slave";
        }
    }
    EXPECT_EQ(e.count("Received Select.Req "), 1u);
    QTest::qWait(1000); // several times T7
    EXPECT_FALSE(recvPumping(host, 50)) << "nothing else reached the host";
    EXPECT_TRUE(line.received.empty()) << "control messages cross only without BridgeSession";

    // Data both ways on the same link.
    ASSERT_TRUE(host.send(header(5, 0x81, 1, 0x0021)));
    const auto primary = line.next();
    ASSERT_TRUE(primary);
    EXPECT_EQ(secsKey(*primary), secsKey(header(5, 0x81, 1, 0x0021)));
    line.host.SendHex(QString::fromStdString(header(5, 0x01, 2, 0x0021) + "2100"));
    // On the line it carried the master's R-bit: 0x8005. On HSMS the session
    // id is the device id alone, with PType and SType 0.
    EXPECT_EQ(recvPumping(host), header(5, 0x01, 2, 0x0021) + "2100");
    // The Received entry shows the line's header, the Send entry the one
    // that went out: each describes one message.
    EXPECT_EQ(e.count("80050102800100000021"), 1u);
    EXPECT_EQ(e.count(header(5, 0x01, 2, 0x0021)), 1u);
    for (const std::string& l : e.log) {
        EXPECT_NE(l.rfind("Disconnected with", 0), 0u) << l;
        EXPECT_NE(l.rfind("Error (-", 0), 0u) << l; // no HSMS error, no timer
    }
    EXPECT_FALSE(host.closed());
}

INSTANTIATE_TEST_SUITE_P(BridgeSession, BridgeLink, ::testing::Bool(),
                         [](const auto& testInfo) { return testInfo.param ? "Answered" : "Relayed"; });

// On the active side the bridge's own session starts with Tovik's
// Select.req to the host; the host's answer stays on the HSMS side.
TEST(BridgeSessionActive, SelectsTheHostAndKeepsControlMessagesOffTheLine) {
    SecsLine line;
    RawListener listener;
    Settings s;
    s.protocol = 3;
    s.server = false;
    s.port = listener.port();
    s.devicePath = line.tovikSide.slavePath;
    s.hsmsExtra = "BridgeSession=1\n";
    Engine e;
    e.start(s);
    ASSERT_TRUE(e.waitLine("SECS port has been opened successfully."));
    ASSERT_TRUE(line.open());
    RawHost host;
    host.adopt(acceptPumping(listener));
    ASSERT_GE(host.fd(), 0);
    const auto select = recvPumping(host);
    ASSERT_TRUE(select);
    EXPECT_EQ(select->substr(0, 12), "ffff00000001");
    ASSERT_TRUE(host.send("ffff00000002" + select->substr(12, 8)));
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x31, 5)));
    EXPECT_EQ(recvPumping(host), header(0xffff, 0, 0, 0x31, 6));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->Hsms().GetState() == CVeltHsms::Selected; }, 2000));
    EXPECT_FALSE(line.next(300)) << "no control message reached the line";
}
