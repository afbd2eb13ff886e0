// The engine over SECS-I on a pseudo-terminal, with the test playing the host
// block by block on the other end, and the HSMS=SECS bridge with a raw HSMS
// host on the other side.
#include "engine_fixture.h"
#include "pty_pair.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

using namespace harness;

namespace {

// A long ASCII answer so that the reply needs several blocks.
std::string bigDocument() {
    return std::string(kDocument) + "'S1F4 Long'\r\nBegin List\r\ns1f4\r\n<a'" + std::string(600, 'x') +
           "'>\r\nEnd List\r\n\r\n";
}

// The host's end of the line: a pty whose other end Tovik opens, spoken to
// block by block while the engine runs.
struct SecsLine {
    RawPty pty;
    PtyPeer peer{-1, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }, {}};
    SecsLine() {
        qtApp();
        EXPECT_TRUE(pty.open());
        peer.fd = pty.master;
    }
    bool send(const std::string& hex, bool rBit = false) { return peer.send(bytesOf(hex), rBit); }
    // The next message as hex, its header as it stood on the line.
    std::string next(int ms = 8000) { return hexOf(peer.receive(ms)); }
};
// Tovik on one end of the line, the host driver open on the other.
void startSecs(SecsLine& line, Engine& e, Settings& s, const std::string& document = kDocument) {
    s.protocol = 1;
    s.devicePath = line.pty.slavePath;
    e.start(s, document);
    ASSERT_TRUE(e.waitLine("SECS port has been opened successfully."));
}

// Tovik as the bridge between the line and a raw HSMS host of ours.
void startBridge(SecsLine& line, Engine& e, Settings& s, RawHost& host) {
    s.protocol = 3;
    s.devicePath = line.pty.slavePath;
    s.localPort = freePort();
    e.start(s);
    ASSERT_TRUE(e.waitLine("HSMS port has been opened successfully."));
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

    // Tovik is the master (the equipment): R-bit set on what it sends.
    ASSERT_TRUE(line.send(header(0, 0x81, 1, 0x21)));
    EXPECT_EQ(line.next(), "80000102800100000021" + std::string(kS1F2Body));

    // 600 bytes of text do not fit one block: the reply comes in three.
    ASSERT_TRUE(line.send(header(0, 0x81, 3, 0x22)));
    const std::string reply = line.next();
    EXPECT_EQ(reply.substr(0, 26), "80000104800300000022" "420258"); // ASCII, 600
    EXPECT_EQ(reply.size(), 20u + 6u + 1200u);

    // A many-block primary from the host is joined and answered.
    ASSERT_TRUE(line.send(header(0, 0x85, 5, 0x23) + "2202bc" + std::string(1400, 'a')));
    EXPECT_EQ(line.next().substr(0, 20), "80000506800100000023");
}

// The device id is the low 15 bits: the R-bit a master sets plays no part,
// a wrong id gets S9F1 carrying the header as it came.
TEST(SecsI, DeviceIdCheckIgnoresTheRBitAndAnswersAWrongIdWithS9F1) {
    SecsLine line;
    Settings s;
    s.master = false;
    s.deviceId = 5;
    Engine e;
    ASSERT_NO_FATAL_FAILURE(startSecs(line, e, s));
    ASSERT_TRUE(line.send(header(5, 0x81, 1, 0x31), true));
    EXPECT_EQ(line.next(), "00050102800100000031" + std::string(kS1F2Body));
    ASSERT_TRUE(line.send(header(6, 0x81, 1, 0x32), true));
    const std::string s9f1 = line.next();
    EXPECT_EQ(s9f1.substr(0, 12), "000509018001");
    EXPECT_EQ(s9f1.substr(20), "210a" "80068101800100000032");
}

TEST(SecsI, SentPrimaryIsRecordedWhenTheLineTookItAndSettledByTheReply) {
    SecsLine line;
    Settings s;
    s.verbose = true;
    Engine e;
    ASSERT_NO_FATAL_FAILURE(startSecs(line, e, s));

    e.send(QStringLiteral("S1F1 Are You There"));
    EXPECT_TRUE(e.view->SentPrimaries.IsEmpty()); // not before the line took it
    const std::string s1f1 = line.next();
    ASSERT_EQ(s1f1.substr(0, 12), "800081018001");
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->GetAwaitingReply(); }, 5000));
    EXPECT_EQ(e.view->SentPrimaries.GetCount(), 1u);

    ASSERT_TRUE(line.send("000001020000" + s1f1.substr(12, 8)));
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

TEST(SecsI, UnansweredPrimaryEndsWithT3EntryAndS9F9OnTheLine) {
    SecsLine line;
    Settings s;
    s.t3 = 300;
    Engine e;
    ASSERT_NO_FATAL_FAILURE(startSecs(line, e, s));
    e.send(QStringLiteral("S1F1 Are You There"));
    const std::string s1f1 = line.next();
    ASSERT_EQ(s1f1.substr(0, 12), "800081018001");
    const std::string s9f9 = line.next(5000);
    EXPECT_EQ(s9f9.substr(0, 12), "800009098001");
    // Its body: the header as Tovik wrote it, before the line added the R-bit.
    EXPECT_EQ(s9f9.substr(20), "210a0000" + s1f1.substr(4, 16));
    EXPECT_EQ(e.count("T3 time out "), 1u);
    EXPECT_TRUE(e.view->SentPrimaries.IsEmpty());
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

// The far end of a tcp: line hangs up and listens again, twice: each time
// the log gives the cause, Tovik opens the line again by itself (attempts
// meanwhile fail quietly) and serves on it.
TEST(SecsI, TcpLineClosedByThePeerIsOpenedAgainAndServes) {
    qtApp();
    auto listener = std::make_unique<RawListener>();
    const int port = listener->port();
    Settings s;
    s.protocol = 1;
    s.devicePath = "tcp:127.0.0.1:" + std::to_string(port);
    s.secsExtra = "ReconnectInterval=1\n";
    Engine e;
    e.start(s);
    ASSERT_TRUE(e.waitLine("SECS port has been opened successfully."));
    for (unsigned round = 0; round < 3; ++round) {
        const int fd = acceptPumping(*listener);
        ASSERT_GE(fd, 0) << "round " << round;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        PtyPeer peer{fd, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }, {}};
        ASSERT_TRUE(peer.send(bytesOf(header(0, 0x81, 1, 0x30 + round))));
        const std::string s1f2 = header(0x8000, 0x01, 0x02, 0x30 + round); // R-bit: Tovik is the master
        EXPECT_EQ(hexOf(peer.receive()).substr(0, 20), s1f2.substr(0, 8) + "8001" + s1f2.substr(12));
        ::close(fd);
        if (round == 2)
            break;
        listener.reset();
        ASSERT_TRUE(e.waitLine("Error (15) Connection closed by the peer", round + 1));
        QTest::qWait(1300);
        listener = std::make_unique<RawListener>(port);
        ASSERT_TRUE(e.waitLine("SECS port has been opened again (" + s.devicePath + ").", round + 1));
    }
    EXPECT_EQ(e.count("Closed SECS port."), 0u);
}

TEST(Bridge, RelaysBothWaysUnchangedWithEventMessages) {
    SecsLine line;
    Settings s;
    s.invokeEvent = true;
    // Both sides also go to a capture file (it outlives the engine), read
    // back by tshark at the end.
    QTemporaryDir captureDir;
    const QString file = captureDir.filePath(QStringLiteral("bridge.pcapng"));
    tovik::capture::PcapngWriter capture;
    std::string error;
    ASSERT_TRUE(capture.open(file.toStdString(), error)) << error;
    Engine e;
    RawHost host;
    ASSERT_NO_FATAL_FAILURE(startBridge(line, e, s, host));
    e.view->SetCapture(&capture);

    // A control message is relayed, not answered.
    const std::string linktest = header(0xffff, 0, 0, 0x0102, 5);
    ASSERT_TRUE(host.send(linktest));
    EXPECT_EQ(secsKey(line.next()), secsKey(linktest));
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
    EXPECT_EQ(line.next(), "80078101800100000304" "a100"); // Tovik is master
    ASSERT_TRUE(recvPumping(host)); // its write report

    // From the line to the host: bytes 4-5 become PType 0, SType 0.
    ASSERT_TRUE(line.send(header(0, 0x01, 2, 0x0304) + "2100"));
    auto back = recvPumping(host);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, header(0, 0x01, 2, 0x0304) + "2100");
    EXPECT_TRUE(e.view->SentPrimaries.IsEmpty());
    EXPECT_TRUE(e.view->ReceivedPrimaries.IsEmpty());

    capture.flush();
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty()) {
        std::printf("tshark is not installed: the bridge's capture is not decoded\n");
        return;
    }
    // Each SECS-I block one USER0 record: direction byte, then the block.
    QProcess p;
    p.start(tshark, {QStringLiteral("-r"), file, QStringLiteral("-d"),
                     QStringLiteral("tcp.port==%1,hsms").arg(s.localPort), QStringLiteral("-V")});
    ASSERT_TRUE(p.waitForFinished(60000));
    const std::string out = p.readAllStandardOutput().toStdString();
    EXPECT_EQ(out.find("Malformed"), std::string::npos) << out;
    EXPECT_NE(out.find("System Bytes: 772"), std::string::npos) << out; // the HSMS side decoded
    EXPECT_NE(out.find("Data: 0180078101800100000304a100\n"), std::string::npos) << out; // sent block
    EXPECT_NE(out.find("Data: 00000001028001000003042100\n"), std::string::npos) << out; // received block
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
            EXPECT_EQ(secsKey(line.next()), secsKey(header(0x7fff, 0, 0, c.system))) << "R-bit 0 from the slave";
        }
    }
    EXPECT_EQ(e.count("Received Select.Req "), 1u);
    QTest::qWait(1000); // several times T7
    EXPECT_FALSE(recvPumping(host, 50)) << "nothing else reached the host";
    EXPECT_TRUE(line.peer.collect(0).empty()) << "control messages cross only without BridgeSession";

    // Data both ways on the same link.
    ASSERT_TRUE(host.send(header(5, 0x81, 1, 0x0021)));
    EXPECT_EQ(secsKey(line.next()), secsKey(header(5, 0x81, 1, 0x0021)));
    ASSERT_TRUE(line.send(header(5, 0x01, 2, 0x0021) + "2100", true)); // the equipment is master
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
    s.devicePath = line.pty.slavePath;
    s.hsmsExtra = "BridgeSession=1\n";
    Engine e;
    e.start(s);
    ASSERT_TRUE(e.waitLine("SECS port has been opened successfully."));
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
    EXPECT_TRUE(line.peer.collect(300).empty()) << "no control message reached the line";
}

// Line faults seen by a raw E4 host: ENQ refused and ignored, a good block
// NAKed, a reply block with a bad checksum or a pause inside, the R-bit and
// device id of a reply changed. Each logged; the line serves on after each.
TEST(SecsI, LineFaultsShowOnTheLineAndAreLogged) {
    SecsLine line;
    Settings s;
    Engine e;
    ASSERT_NO_FATAL_FAILURE(startSecs(line, e, s));
    const char* rules[] = {
        R"({"match": "*", "action": "nak", "times": 1})",
        R"({"match": "*", "action": "noEot", "times": 1})",
        R"({"match": "S1F5", "action": "nak", "times": 1})",
        R"({"match": "S1F1", "action": "badChecksum", "times": 1})",
        R"({"match": "S1F3", "action": "splitBlock", "ms": 400, "times": 1})",
        R"({"match": "S2F13", "action": "rbit"})",
        R"({"match": "S2F15", "action": "deviceId", "value": 5})",
    };
    for (const char* rule : rules)
        ASSERT_NE(e.view->Faults().add(QJsonDocument::fromJson(rule).object()).id, 0) << rule;
    using namespace tovik::secsi;
    PtyPeer& peer = line.peer;

    // ENQ answered with NAK, then not at all, then with EOT.
    ASSERT_TRUE(peer.write({kEnq}));
    EXPECT_EQ(peer.read(1), Bytes{kNak});
    ASSERT_TRUE(peer.write({kEnq}));
    EXPECT_TRUE(peer.read(1, 400).empty());
    // A good block NAKed once; the retry is taken and answered.
    const Bytes s1f5 = frameBlock(bytesOf(header(0, 0x81, 5, 0x41)), 0, false);
    for (const std::uint8_t answer : {kNak, kAck}) {
        ASSERT_TRUE(peer.write({kEnq}));
        ASSERT_EQ(peer.read(1), Bytes{kEot});
        ASSERT_TRUE(peer.write(s1f5));
        EXPECT_EQ(peer.read(1), Bytes{answer});
    }
    EXPECT_EQ(line.next().substr(0, 20), "80000106800100000041");

    // The reply's block with a wrong checksum: the host NAKs, the retry is good.
    ASSERT_TRUE(line.send(header(0, 0x81, 1, 0x42)));
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    ASSERT_TRUE(peer.write({kEot}));
    const Bytes length = peer.read(1);
    ASSERT_EQ(length.size(), 1u);
    const Bytes bad = peer.read(length[0] + 2u);
    ASSERT_EQ(bad.size(), length[0] + 2u);
    EXPECT_NE(checksum(bad.data(), length[0]), bad[length[0]] << 8 | bad[length[0] + 1]);
    ASSERT_TRUE(peer.write({kNak}));
    EXPECT_EQ(line.next(), "80000102800100000042" + std::string(kS1F2Body));

    // A pause of 400 ms inside the block.
    ASSERT_TRUE(line.send(header(0, 0x81, 3, 0x43)));
    ASSERT_EQ(peer.read(1), Bytes{kEnq});
    ASSERT_TRUE(peer.write({kEot}));
    ASSERT_EQ(peer.read(2).size(), 2u);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(peer.read(14).size(), 14u); // the rest of 16: length, 10 header, 3 data, 2 checksum
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(350));
    ASSERT_TRUE(peer.write({kAck}));

    // The R-bit a slave would set (none), and another device id.
    ASSERT_TRUE(line.send(header(0, 0x82, 13, 0x44)));
    EXPECT_EQ(line.next().substr(0, 20), "0000020e800100000044");
    ASSERT_TRUE(line.send(header(0, 0x82, 15, 0x45)));
    EXPECT_EQ(line.next().substr(0, 20), "80050210800100000045");

    for (const char* logged : {"nak on ENQ (rule 1)", "noEot on ENQ (rule 2)", "nak on S1F5 (rule 3)",
                               "badChecksum on S1F1 (rule 4)", "splitBlock on S1F3 (rule 5)",
                               "rbit on S2F13 (rule 6)", "deviceId on S2F15 (rule 7)"})
        EXPECT_EQ(e.count(std::string("Fault: ") + logged), 1u) << logged;
}
