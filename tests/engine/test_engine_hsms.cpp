// The engine in-process over HSMS: the active side with its Select.req, the
// user's Send Message with reply supervision (T3, S9F9), and a received
// primary with several candidate replies that the user answers.
#include "engine_fixture.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace harness;

// The engine connects to a listener of ours.
struct ActiveHost : ::testing::Test {
    RawListener peer;
    Settings s;
    Engine e;
    RawHost host;
    void start() {
        s.server = false;
        s.port = peer.port();
        e.start(s);
        host.adopt(acceptPumping(peer));
        ASSERT_GE(host.fd(), 0);
    }
};

TEST_F(ActiveHost, SelectsThenSendsAndSettlesOnTheReply) {
    s.t3 = 60000;
    start();

    const auto select = recvPumping(host);
    ASSERT_TRUE(select);
    EXPECT_EQ(select->substr(0, 12), "ffff00000001");
    ASSERT_TRUE(host.send("ffff00000002" + select->substr(12, 8)));

    e.send(QStringLiteral("S1F1 Are You There"));
    const auto s1f1 = recvPumping(host);
    ASSERT_TRUE(s1f1);
    EXPECT_EQ(s1f1->substr(0, 12), "000081010000");
    EXPECT_TRUE(e.view->GetAwaitingReply());
    EXPECT_TRUE(e.view->IsCommandChecked(tovik::CTovikarView::ID_SEND_MESSAGE));

    // A reply with other system bytes settles nothing; the right one does.
    ASSERT_TRUE(host.send("000001020000" + std::string("0000ffff")));
    ASSERT_TRUE(host.send("000001020000" + s1f1->substr(12, 8)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->SentPrimaries.IsEmpty(); }, 5000));
    EXPECT_FALSE(e.view->GetAwaitingReply());
}

TEST_F(ActiveHost, UnansweredPrimaryEndsWithT3EntryAndS9F9) {
    s.sendSelect = false;
    s.t3 = 300;
    start();
    // Nothing waits: the 55 ms tick sleeps until a primary needs it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !e.view->TimerRunning(); }, 2000));

    e.send(QStringLiteral("S1F1 Are You There"));
    const auto sent = std::chrono::steady_clock::now();
    const auto s1f1 = recvPumping(host);
    ASSERT_TRUE(s1f1);
    const auto s9f9 = recvPumping(host, 5000);
    ASSERT_TRUE(s9f9);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(300));
    EXPECT_EQ(s9f9->substr(0, 12), "000009090000");
    EXPECT_EQ(s9f9->substr(20), "210a" + s1f1->substr(0, 20));
    EXPECT_EQ(e.count("T3 time out "), 1u);
    EXPECT_TRUE(e.view->SentPrimaries.IsEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !e.view->GetAwaitingReply(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !e.view->TimerRunning(); }, 2000));
}

TEST_F(ActiveHost, UnreachableServerIsReported) {
    s.server = false;
    s.port = freePort(); // nobody listens
    e.start(s);
    ASSERT_TRUE(e.waitLine("Error : Cannot connect to HSMS server."));
    EXPECT_TRUE(e.waitLine("Disconnected with 127.0.0.1(" + std::to_string(s.port) + ")"));
}

// A second Tovik (or anything else) already holds the port.
TEST(PassivePort, TakenPortIsReported) {
    RawListener taken;
    Settings s;
    s.localPort = taken.port();
    Engine e;
    e.start(s);
    EXPECT_TRUE(e.waitLine("Error : Cannot open HSMS port."));
}

struct Passive : ::testing::Test {
    Settings s;
    Engine e;
    RawHost host;
    virtual int t3() const { return 60000; }
    virtual std::string document() const { return kDocument; }
    void SetUp() override {
        s.localPort = freePort();
        s.t3 = t3();
        e.start(s, document());
        ASSERT_TRUE(e.waitLine("HSMS port has been opened successfully."));
        ASSERT_TRUE(host.connect(s.localPort));
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
        ASSERT_EQ(recvPumping(host), header(0xffff, 0, 0, 1, 2));
    }
};

TEST_F(Passive, UserPairsAWaitingPrimaryWithTheChosenDefinition) {
    ASSERT_TRUE(host.send(header(0, 0x82, 17, 0x00aa00bb)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->ReceivedPrimaries.GetCount() == 1; }, 5000));
    e.send(QStringLiteral("S2F18 Second"));
    // <a'20250101'>, with the waiting primary's system bytes.
    EXPECT_EQ(recvPumping(host), header(0, 0x02, 18, 0x00aa00bb) + "41083230323530313031");
    EXPECT_TRUE(e.view->ReceivedPrimaries.IsEmpty());

    // Nothing waits any more: sent anyway, with fresh system bytes.
    const uint16_t next = tovik::CTovikarView::NextTransactionID();
    e.send(QStringLiteral("S2F18 First"));
    EXPECT_EQ(e.count("Cannot find primary message...but send anyway."), 1u);
    EXPECT_EQ(recvPumping(host), header(0, 0x02, 18, next) + "41083230323430313031");
}

// Received primaries that wait for the user time out quickly here.
struct PassiveShortT3 : Passive {
    int t3() const override { return 400; }
};

TEST_F(PassiveShortT3, UnansweredReceivedPrimaryIsRemindedOnceAndForgotten) {
    ASSERT_TRUE(host.send(header(0, 0x82, 17, 0x5)));
    ASSERT_TRUE(e.waitLine("You didn't send reply of "));
    EXPECT_TRUE(e.view->ReceivedPrimaries.IsEmpty());
    EXPECT_FALSE(recvPumping(host, 300)); // the peer is not told
    EXPECT_EQ(e.count("You didn't send reply of "), 1u);
}

// A shorter T3 set while a primary waits holds for that primary too.
TEST_F(Passive, ShorterT3AppliesToAWaitingPrimary) {
    ASSERT_TRUE(host.send(header(0, 0x82, 17, 0x7)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->ReceivedPrimaries.GetCount() == 1; }, 5000));
    QTest::qWait(200); // the timer has seen it and sleeps towards the old T3
    tovik::Settings shorter = e.view->GetSettings();
    shorter.T3 = 300;
    e.view->ReloadSettings(shorter);
    EXPECT_TRUE(e.waitLine("You didn't send reply of "));
}

TEST_F(Passive, PeerS9F9ClosesTheWaitingPrimary) {
    const std::string primary = header(0, 0x82, 17, 0x6);
    ASSERT_TRUE(host.send(primary));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->ReceivedPrimaries.GetCount() == 1; }, 5000));
    ASSERT_TRUE(host.send(header(0, 0x09, 9, 0x7), "210a" + primary));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->ReceivedPrimaries.IsEmpty(); }, 5000));
}

TEST_F(Passive, SendMessageFeedback) {
    e.send(QString());
    EXPECT_EQ(e.count("No selected message."), 1u);
    e.send(QStringLiteral("s1f2 data"));
    EXPECT_EQ(e.count("Cannot find specified message 's1f2 data'."), 1u);
    // A press while a reply is awaited only stops waiting.
    e.send(QStringLiteral("S1F1 Are You There"));
    ASSERT_TRUE(recvPumping(host));
    ASSERT_TRUE(e.view->GetAwaitingReply());
    e.send(QStringLiteral("S1F1 Are You There"));
    EXPECT_FALSE(e.view->GetAwaitingReply());
    EXPECT_FALSE(recvPumping(host, 200));
}

TEST_F(Passive, MessageEntriesFollowTheShowSettings) {
    e.log.clear();
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x9)));
    ASSERT_TRUE(recvPumping(host));
    // Decoding..., date, label, peer, header, SML lines, then the Send entry.
    ASSERT_GE(e.log.size(), 6u);
    EXPECT_EQ(e.log[0], "Decoding...");
    EXPECT_EQ(e.log[1].size(), 19u);
    EXPECT_EQ(e.log[2], "Received ");
    EXPECT_EQ(e.log[3].rfind("127.0.0.1(", 0), 0u);
    EXPECT_EQ(e.log[4], header(0, 0x81, 1, 0x9));
    EXPECT_EQ(e.log[5], "s1f1w");
    EXPECT_EQ(e.count("Send "), 1u);
    EXPECT_EQ(e.count(header(0, 0x01, 2, 0x9)), 1u);
    EXPECT_EQ(e.log.back(), "Completed");
}

// What the document answers: the one definition for the reply with the
// request's system bytes (as edited at that moment), <b 0> without a
// definition. Nothing answers a primary
// without W-bit, an even function, or one that two definitions could answer.
// A wrong device id gets S9F1 with the header, unless it is stream 9.
TEST_F(Passive, AnswersFromTheDocumentOrWithS9F1) {
    for (uint32_t system = 0x20; system < 0x23; ++system) {
        ASSERT_TRUE(host.send(header(0, 0x81, 1, system)));
        EXPECT_EQ(recvPumping(host), header(0, 0x01, 2, system) + kS1F2Body);
    }
    tovik::CHOneMsg* def = e.doc->FindByName("S1F2 Data");
    ASSERT_NE(def, nullptr);
    def->m_strText = "s1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'2'>\r\n}\r\n";
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x30)));
    EXPECT_EQ(recvPumping(host), header(0, 0x01, 2, 0x30) + "0102410245514101" "32");
    ASSERT_TRUE(host.send(header(0, 0x85, 5, 0x32), "a100"));
    EXPECT_EQ(recvPumping(host), header(0, 0x05, 6, 0x32) + "210100");
    // A list header that promises more items than the body holds.
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x33), "0105"));
    EXPECT_EQ(recvPumping(host), header(0, 0x01, 2, 0x33) + "0102410245514101" "32");

    ASSERT_TRUE(host.send(header(0, 0x01, 1, 0x40)));
    ASSERT_TRUE(host.send(header(0, 0x81, 2, 0x42)));
    ASSERT_TRUE(host.send(header(0, 0x82, 17, 0x41)));
    const std::string wrong = header(5, 0x81, 1, 0x77);
    ASSERT_TRUE(host.send(wrong));
    const auto s9f1 = recvPumping(host);
    ASSERT_TRUE(s9f1);
    EXPECT_EQ(s9f1->substr(0, 12), "000009010000");
    EXPECT_EQ(s9f1->substr(20), "210a" + wrong);
    ASSERT_TRUE(host.send(header(5, 0x09, 3, 0x78), "210a" + wrong));
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x79, 5)));
    EXPECT_EQ(recvPumping(host), header(0xffff, 0, 0, 0x79, 6)) << "nothing answered in between";
}

TEST_F(ActiveHost, LinkWithoutSelectStillServesLongAfterT7AndClosesWithOneLine) {
    s.sendSelect = false;
    s.timeOutExtra = "T7=150\n";
    start();
    QTest::qWait(1000); // several times T7: no timer of the driver's closes it
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x44)));
    EXPECT_EQ(recvPumping(host), header(0, 0x01, 2, 0x44) + kS1F2Body);
    EXPECT_EQ(e.count("Error : T7 time out."), 0u);

    // Switching off names the connection once.
    e.view->OnConnect();
    EXPECT_FALSE(recvPumping(host));
    EXPECT_TRUE(host.closed());
    EXPECT_EQ(e.count("Disconnected with 127.0.0.1(" + std::to_string(peer.port()) + ")"), 1u);
}

// Two hosts on the passive port: the user's Send Message goes to the host
// that spoke last, and Disconnect drops that host alone.
TEST(PassiveHosts, SendsAndDisconnectFollowTheHostThatSpoke) {
    Settings s;
    s.localPort = freePort();
    s.t3 = 60000;
    Engine e;
    e.start(s);
    ASSERT_TRUE(e.waitLine("HSMS port has been opened successfully."));
    RawHost a, b;
    ASSERT_TRUE(a.connect(s.localPort));
    ASSERT_TRUE(b.connect(s.localPort));
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.view->Hsms().GetClientCount() == 2; }, 5000));
    ASSERT_TRUE(b.send(header(0xffff, 0, 0, 0xb1, 1)));
    EXPECT_EQ(recvPumping(b), header(0xffff, 0, 0, 0xb1, 2));
    // a speaks last.
    ASSERT_TRUE(a.send(header(0xffff, 0, 0, 0xa3, 5)));
    EXPECT_EQ(recvPumping(a), header(0xffff, 0, 0, 0xa3, 6));
    e.send(QStringLiteral("S1F1 Are You There"));
    const auto sent = recvPumping(a);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->substr(0, 12), "000081010000");
    EXPECT_FALSE(recvPumping(b, 200));

    e.view->OnDisconnect();
    EXPECT_FALSE(recvPumping(a));
    EXPECT_TRUE(a.closed());
    ASSERT_TRUE(b.send(header(0, 0x81, 1, 0xb3)));
    EXPECT_EQ(recvPumping(b), header(0, 0x01, 2, 0xb3) + kS1F2Body);
    int aPort = 0;
    for (const auto& l : e.log)
        if (l.rfind("Disconnected with 127.0.0.1(", 0) == 0)
            ++aPort;
    EXPECT_EQ(aPort, 1);
    EXPECT_EQ(e.view->Hsms().GetClientCount(), 1);
}

// A definition whose text does not load.
struct PassiveBadDefinition : Passive {
    std::string document() const override {
        return "'bad'\r\nBegin List\r\ns1f4 <l <u4 abc>\r\nEnd List\r\n\r\n";
    }
    std::ptrdiff_t indexOf(const std::string& line) const {
        const auto it = std::find(e.log.begin(), e.log.end(), line);
        return it == e.log.end() ? -1 : it - e.log.begin();
    }
};

TEST_F(PassiveBadDefinition, ADefinitionThatDoesNotLoadIsToldBeforeItIsSent) {
    const std::string error = "Cannot load message 'bad': SML line 1, column 13: bad or out-of-range u4 value 'abc'";
    e.log.clear();
    ASSERT_TRUE(host.send(header(0, 0x81, 3, 0x41)));
    ASSERT_TRUE(recvPumping(host));
    ASSERT_EQ(e.count(error), 1u);
    EXPECT_LT(indexOf(error), indexOf("Send "));
    EXPECT_GT(indexOf(error), indexOf("Decoding..."));
    e.log.clear();
    e.send(QStringLiteral("bad"));
    ASSERT_TRUE(recvPumping(host));
    ASSERT_EQ(e.count(error), 1u);
    EXPECT_LT(indexOf(error), indexOf("Send "));
}
