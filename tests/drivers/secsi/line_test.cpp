// The SECS-I line core driven byte by byte with a hand-held clock.
#include <gtest/gtest.h>

#include <filesystem>

#include "../../common/scratch.h"
#include "secsi_line.h"
#include "secsi_ports.h"

using namespace tovik::secsi;
using Bytes = std::vector<uint8_t>;
using Kind = LineEvent::Kind;

namespace {

LineConfig quick(bool master = false) {
    LineConfig c;
    c.master = master;
    c.retryCount = 2;
    c.t1Ms = 100;
    c.t2Ms = 1000;
    c.t4Ms = 5000;
    c.device = 1;
    return c;
}

// S1F1 W for device 1, system bytes 42.
const Bytes kS1F1 = {0x00, 0x01, 0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2a};
// Its single block on the wire: length, header with E-bit and block 1, checksum 0x012e.
const Bytes kS1F1Block = {0x0a, 0x00, 0x01, 0x81, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x2a, 0x01, 0x2e};
// The same block from the master (the equipment): R-bit set, checksum 0x01ae.
const Bytes kS1F1MasterBlock = {0x0a, 0x80, 0x01, 0x81, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x2a, 0x01, 0xae};

Bytes message(std::size_t body, uint8_t sys = 7) {
    Bytes m = {0x00, 0x01, 0x06, 0x0b, 0x00, 0x00, 0x00, 0x00, 0x00, sys};
    for (std::size_t i = 0; i < body; ++i)
        m.push_back(static_cast<uint8_t>(i * 7 + 3));
    return m;
}

// The message as the receiver delivers it: E-bit set, block number 1.
Bytes asReceived(Bytes m) {
    m[4] = 0x80;
    m[5] = 0x01;
    return m;
}

void feed(LineCore& core, const Bytes& bytes, Millis now) {
    core.receive(bytes.data(), bytes.size(), now);
}

std::vector<short> errorCodes(const std::vector<LineEvent>& events) {
    std::vector<short> codes;
    for (const auto& e : events)
        if (e.kind == Kind::Error)
            codes.push_back(e.code);
    return codes;
}

std::vector<LineEvent> only(const std::vector<LineEvent>& events, Kind kind) {
    std::vector<LineEvent> out;
    for (const auto& e : events)
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

Bytes withChecksum(Bytes frame) {
    const uint16_t s = checksum(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<uint8_t>(s >> 8));
    frame.push_back(static_cast<uint8_t>(s));
    return frame;
}

// Two cores joined by a perfect line; the clock only moves when told.
struct Wire {
    LineCore a, b;
    Millis now = 0;
    std::vector<LineEvent> eventsA, eventsB;
    std::vector<Bytes> fromA; // each chunk A wrote
    Wire(LineConfig ca, LineConfig cb) : a(ca), b(cb) {}
    void settle() {
        for (int guard = 0; guard < 1000000; ++guard) {
            Bytes outA = a.takeOutput(), outB = b.takeOutput();
            if (outA.empty() && outB.empty())
                break;
            if (!outA.empty())
                fromA.push_back(outA);
            feed(b, outA, now);
            feed(a, outB, now);
        }
        for (auto& e : a.takeEvents())
            eventsA.push_back(std::move(e));
        for (auto& e : b.takeEvents())
            eventsB.push_back(std::move(e));
    }
};

} // namespace

TEST(SecsiBlocks, SingleBlockMessageGoesOutAsOneFrameAfterTheHandshake) {
    LineCore core(quick());
    core.send(kS1F1, 0);
    EXPECT_EQ(core.takeOutput(), Bytes{kEnq});
    feed(core, {kEot}, 5);
    EXPECT_EQ(core.takeOutput(), kS1F1Block);
    feed(core, {kAck}, 6);
    auto sent = only(core.takeEvents(), Kind::SendCompleted);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].success);
    EXPECT_EQ(core.state(), LineState::Idle);
}

TEST(SecsiBlocks, ReceivedSingleBlockIsAckedAndDelivered) {
    LineCore core(quick());
    feed(core, {kEnq}, 0);
    EXPECT_EQ(core.takeOutput(), Bytes{kEot});
    feed(core, kS1F1Block, 1);
    EXPECT_EQ(core.takeOutput(), Bytes{kAck});
    auto got = only(core.takeEvents(), Kind::MessageReceived);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, asReceived(kS1F1));
}

TEST(SecsiBlocks, ManyBlockMessageIsNumberedSplitAndJoined) {
    Wire w(quick(true), quick(false));
    const Bytes msg = message(3 * kMaxBlockData + 5);
    w.a.send(msg, 0);
    w.settle();
    // Four blocks, each with its own ENQ; block numbers 1..4, E-bit only on the last.
    std::vector<Bytes> frames;
    for (const Bytes& chunk : w.fromA)
        if (chunk.size() > 1)
            frames.push_back(chunk);
    ASSERT_EQ(frames.size(), 4u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(blockNumber(frames[i].data() + 1), i + 1);
        EXPECT_EQ(endBit(frames[i].data() + 1), i == 3);
        EXPECT_EQ(frames[i][0], i == 3 ? 15 : 254);
        EXPECT_EQ(frames[i][1] & 0x80, 0x80); // R-bit of the master on every block
    }
    // Joined with the header as on the line (R-bit included); the slave's
    // device check (code 13) does not count the R-bit.
    auto got = only(w.eventsB, Kind::MessageReceived);
    ASSERT_EQ(got.size(), 1u);
    Bytes want = asReceived(msg);
    want[0] |= 0x80;
    EXPECT_EQ(got[0].message, want);
    auto done = only(w.eventsA, Kind::SendCompleted);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].success);
    EXPECT_TRUE(errorCodes(w.eventsA).empty());
    EXPECT_TRUE(errorCodes(w.eventsB).empty());
}

TEST(SecsiBlocks, MessagesThatCannotBeSentFailAtOnce) {
    LineCore core(quick());
    const uint64_t shortId = core.send(Bytes(9, 0), 0);
    Bytes huge(kMaxMessageSize + 1, 0);
    const uint64_t hugeId = core.send(std::move(huge), 0);
    EXPECT_TRUE(core.takeOutput().empty());
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), (std::vector<short>{InvalidLength, InvalidLength}));
    auto done = only(events, Kind::SendCompleted);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].sendId, shortId);
    EXPECT_EQ(done[1].sendId, hugeId);
    EXPECT_FALSE(done[0].success || done[1].success);
}

TEST(SecsiBlocks, LargestMessageNeedsExactlyTheBlockLimit) {
    EXPECT_EQ(blockCount(kMaxMessageSize), kMaxBlocks);
    EXPECT_EQ(blockCount(kHeaderSize), 1u);
    const Bytes last = frameBlock(Bytes(kMaxMessageSize, 0x11), kMaxBlocks - 1, false);
    EXPECT_EQ(blockNumber(last.data() + 1), kMaxBlocks);
    EXPECT_TRUE(endBit(last.data() + 1));
}

TEST(SecsiSendFaults, NakAndNoAnswerAreRetriedThenGivenUp) {
    LineCore core(quick());
    core.send(kS1F1, 0);
    core.takeOutput();
    feed(core, {kEot}, 1);
    core.takeOutput();
    feed(core, {kNak}, 2); // retry 1: ENQ again
    EXPECT_EQ(core.takeOutput(), Bytes{kEnq});
    core.advance(2 + 1000); // retry 2: no EOT within T2
    EXPECT_EQ(core.takeOutput(), Bytes{kEnq});
    feed(core, {kEot}, 1100);
    core.takeOutput();
    core.advance(1100 + 1000); // no ACK within T2: retries used up
    EXPECT_TRUE(core.takeOutput().empty());
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), (std::vector<short>{ReceivedNak, T2Expired, T2Expired, RetryOver}));
    auto done = only(events, Kind::SendCompleted);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].success);
    EXPECT_EQ(core.state(), LineState::Idle);
}

TEST(SecsiSendFaults, NextQueuedMessageStartsAfterAFailure) {
    LineConfig c = quick();
    c.retryCount = 0;
    LineCore core(c);
    core.send(kS1F1, 0);
    core.send(message(3), 0);
    EXPECT_EQ(core.takeOutput(), Bytes{kEnq});
    core.advance(1000);
    EXPECT_EQ(core.takeOutput(), Bytes{kEnq}); // the second message's handshake
    EXPECT_EQ(core.pendingSends(), 1u);
}

TEST(SecsiReceiveFaults, BadChecksumIsNakedAndTheRetryDeliveredOnce) {
    LineCore core(quick());
    feed(core, {kEnq}, 0);
    Bytes bad = kS1F1Block;
    bad.back() ^= 0x01;
    feed(core, bad, 1);
    EXPECT_EQ(core.takeOutput(), (Bytes{kEot, kNak}));
    feed(core, {kEnq}, 2);
    feed(core, kS1F1Block, 3);
    EXPECT_EQ(core.takeOutput(), (Bytes{kEot, kAck}));
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), std::vector<short>{BadChecksum});
    EXPECT_EQ(only(events, Kind::MessageReceived).size(), 1u);
}

TEST(SecsiReceiveFaults, RepeatedBlockAfterLostAckIsAckedButKeptOnce) {
    LineCore core(quick());
    for (int i = 0; i < 2; ++i) {
        feed(core, {kEnq}, i);
        feed(core, kS1F1Block, i);
        EXPECT_EQ(core.takeOutput(), (Bytes{kEot, kAck}));
    }
    EXPECT_EQ(only(core.takeEvents(), Kind::MessageReceived).size(), 1u);
}

TEST(SecsiReceiveFaults, BadLengthWaitsForQuietLineThenNaks) {
    for (uint8_t length : {uint8_t{9}, uint8_t{255}, uint8_t{0}}) {
        LineCore core(quick());
        feed(core, {kEnq, length, 1, 2, 3}, 0);
        EXPECT_EQ(core.takeOutput(), Bytes{kEot});
        feed(core, {4, 5}, 90); // still talking: no NAK yet
        core.advance(150);
        EXPECT_TRUE(core.takeOutput().empty());
        core.advance(190);
        EXPECT_EQ(core.takeOutput(), Bytes{kNak});
        EXPECT_EQ(errorCodes(core.takeEvents()), std::vector<short>{InvalidLength});
        // The line still works.
        feed(core, {kEnq}, 200);
        feed(core, kS1F1Block, 201);
        EXPECT_EQ(core.takeOutput(), (Bytes{kEot, kAck}));
        EXPECT_EQ(only(core.takeEvents(), Kind::MessageReceived).size(), 1u);
    }
}

TEST(SecsiReceiveFaults, PeerStoppingMidBlockGetsNakAfterT1) {
    LineCore core(quick());
    feed(core, {kEnq}, 0);
    feed(core, Bytes(kS1F1Block.begin(), kS1F1Block.begin() + 6), 10);
    core.advance(109);
    EXPECT_EQ(core.takeOutput(), Bytes{kEot});
    core.advance(110);
    EXPECT_EQ(core.takeOutput(), Bytes{kNak});
    EXPECT_EQ(errorCodes(core.takeEvents()), std::vector<short>{T1Expired});
    EXPECT_EQ(core.state(), LineState::Idle);
}

TEST(SecsiReceiveFaults, NoLengthAfterEotGetsNakAfterT2) {
    LineCore core(quick());
    feed(core, {kEnq}, 0);
    core.advance(1000);
    EXPECT_EQ(core.takeOutput(), (Bytes{kEot, kNak}));
    EXPECT_EQ(errorCodes(core.takeEvents()), std::vector<short>{T2Expired});
}

TEST(SecsiReceiveFaults, MissingNextBlockDropsThePartAfterT4) {
    LineCore core(quick());
    const Bytes msg = message(300);
    feed(core, {kEnq}, 0);
    feed(core, frameBlock(msg, 0, false), 0);
    core.advance(4999);
    EXPECT_TRUE(errorCodes(core.takeEvents()).empty());
    core.advance(5000);
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), std::vector<short>{T4Expired});
    // A late second block belongs to nothing now.
    feed(core, {kEnq}, 5001);
    feed(core, frameBlock(msg, 1, false), 5002);
    events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), std::vector<short>{InvalidMultiBlock});
    EXPECT_TRUE(only(events, Kind::MessageReceived).empty());
}

TEST(SecsiReceiveFaults, BlockNumberGapDropsTheMessage) {
    LineCore core(quick());
    const Bytes msg = message(600);
    feed(core, {kEnq}, 0);
    feed(core, frameBlock(msg, 0, false), 0);
    feed(core, {kEnq}, 1);
    feed(core, frameBlock(msg, 2, false), 1);
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), std::vector<short>{InvalidBlockNumber});
    EXPECT_TRUE(only(events, Kind::MessageReceived).empty());
}

TEST(SecsiReceiveFaults, NewMessageBeforeTheLastBlockReplacesTheOpenOne) {
    LineCore core(quick());
    feed(core, {kEnq}, 0);
    feed(core, frameBlock(message(300, 1), 0, false), 0);
    feed(core, {kEnq}, 1);
    feed(core, frameBlock(message(5, 2), 0, false), 1);
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), std::vector<short>{InvalidMultiBlock});
    auto got = only(events, Kind::MessageReceived);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message[9], 2);
}

TEST(SecsiReceiveFaults, OtherDeviceIsReportedAndStillDelivered) {
    LineCore core(quick());
    Bytes block = {0x0a, 0x00, 0x05, 0x81, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x01};
    feed(core, {kEnq}, 0);
    feed(core, withChecksum(block), 0);
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), std::vector<short>{InvalidDeviceId});
    EXPECT_EQ(only(events, Kind::MessageReceived).size(), 1u);
}

TEST(SecsiReceiveFaults, NoiseOnIdleLineIsReportedOnceAndIgnored) {
    LineCore core(quick());
    feed(core, {0x41, 0x42, 0x00, 0xff}, 0);
    EXPECT_TRUE(core.takeOutput().empty());
    feed(core, {kEnq}, 1);
    feed(core, kS1F1Block, 1);
    feed(core, {0x7f}, 2);
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), (std::vector<short>{UnexpectedChar, UnexpectedChar}));
    EXPECT_EQ(only(events, Kind::MessageReceived).size(), 1u);
}

TEST(SecsiContention, SlaveYieldsReceivesThenSends) {
    LineCore slave(quick(false));
    slave.send(kS1F1, 0);
    slave.takeOutput();
    feed(slave, {kEnq}, 1); // the master's ENQ crosses ours
    EXPECT_EQ(slave.takeOutput(), Bytes{kEot});
    // Its R-bit is not part of the device id: no device error below.
    feed(slave, kS1F1MasterBlock, 2);
    EXPECT_EQ(slave.takeOutput(), (Bytes{kAck, kEnq})); // then our own turn
    feed(slave, {kEot}, 3);
    EXPECT_EQ(slave.takeOutput(), kS1F1Block);
    auto events = slave.takeEvents();
    EXPECT_EQ(only(events, Kind::MessageReceived).size(), 1u);
    EXPECT_EQ(errorCodes(events), std::vector<short>{UnexpectedChar});
}

TEST(SecsiContention, MasterKeepsWaitingForItsEot) {
    LineCore master(quick(true));
    master.send(kS1F1, 0);
    master.takeOutput();
    feed(master, {kEnq}, 1);
    EXPECT_TRUE(master.takeOutput().empty());
    feed(master, {kEot}, 2);
    EXPECT_EQ(master.takeOutput(), kS1F1MasterBlock);
}

TEST(SecsiContention, BothSidesSendingAtOnceBothSucceed) {
    for (bool aIsMaster : {true, false}) {
        Wire w(quick(aIsMaster), quick(!aIsMaster));
        w.a.send(message(400, 1), 0);
        w.b.send(message(300, 2), 0);
        w.settle();
        ASSERT_EQ(only(w.eventsA, Kind::MessageReceived).size(), 1u);
        ASSERT_EQ(only(w.eventsB, Kind::MessageReceived).size(), 1u);
        EXPECT_EQ(only(w.eventsA, Kind::MessageReceived)[0].message[9], 2);
        EXPECT_EQ(only(w.eventsB, Kind::MessageReceived)[0].message[9], 1);
        EXPECT_TRUE(only(w.eventsA, Kind::SendCompleted)[0].success);
        EXPECT_TRUE(only(w.eventsB, Kind::SendCompleted)[0].success);
    }
}

TEST(SecsiContinuous, BlocksFollowEachOtherWithoutNewHandshake) {
    LineConfig ca = quick(true), cb = quick(false);
    ca.msec = cb.msec = true;
    Wire w(ca, cb);
    const Bytes msg = message(3 * kMaxBlockData);
    w.a.send(msg, 0);
    w.settle();
    std::size_t enqs = 0;
    for (const Bytes& chunk : w.fromA)
        enqs += chunk.size() == 1 && chunk[0] == kEnq;
    EXPECT_EQ(enqs, 1u);
    auto got = only(w.eventsB, Kind::MessageReceived);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message.size(), msg.size());
    EXPECT_EQ(w.b.state(), LineState::Idle);
}

TEST(SecsiContinuous, NakedBlockIsRetriedWithAFullHandshake) {
    LineConfig c = quick();
    c.msec = true;
    LineCore core(c);
    const Bytes msg = message(300);
    core.send(msg, 0);
    core.takeOutput();
    feed(core, {kEot}, 0);
    core.takeOutput();
    feed(core, {kAck}, 0);
    EXPECT_EQ(core.takeOutput(), frameBlock(msg, 1, false)); // straight on
    feed(core, {kNak}, 1);
    EXPECT_EQ(core.takeOutput(), Bytes{kEnq});
    feed(core, {kEot}, 2);
    EXPECT_EQ(core.takeOutput(), frameBlock(msg, 1, false));
}

TEST(SecsiLineLoss, AbortFailsEverySendAndForgetsThePartialMessage) {
    LineCore core(quick());
    feed(core, {kEnq}, 0);
    feed(core, frameBlock(message(300), 0, false), 0);
    core.send(kS1F1, 1);
    core.send(kS1F1, 1);
    core.takeEvents();
    core.abort();
    auto done = only(core.takeEvents(), Kind::SendCompleted);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_FALSE(done[0].success || done[1].success);
    EXPECT_FALSE(core.nextDeadline().has_value());
}

TEST(SecsiPorts, IndexCountsSerialThenUsbThenAcmDevicesByNumber) {
    tovik::test::ScratchDir dir;
    for (const char* name : {"ttyACM0", "ttyUSB10", "ttyS10", "ttyUSB2", "ttyS2", "tty0", "ttySx", "console"})
        tovik::test::writeFile(dir / name, "x");
    std::vector<std::string> names;
    for (const auto& p : serialDevices(dir.path().string()))
        names.push_back(std::filesystem::path(p).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"ttyS2", "ttyS10", "ttyUSB2", "ttyUSB10", "ttyACM0"}));
}

TEST(SecsiPorts, TcpTargetsAreParsedStrictly) {
    auto t = parseTcpTarget("tcp:term-server.local:4001");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->host, "term-server.local");
    EXPECT_EQ(t->port, 4001);
    auto v6 = parseTcpTarget("tcp:[::1]:23");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    for (const char* bad : {"tcp:host", "tcp::80", "tcp:host:0", "tcp:host:65536", "tcp:host:8x", "/dev/ttyS0"})
        EXPECT_FALSE(parseTcpTarget(bad)) << bad;
}
