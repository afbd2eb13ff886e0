// The SECS-I line core driven byte by byte with a hand-held clock: every
// handshake, timer and fault as a trace of what the peer says and what the
// core answers.
#include <gtest/gtest.h>

#include <filesystem>

#include "../../common/files.h"
#include "secsi_line.h"
#include "secsi_ports.h"

using namespace tovik::secsi;
using Bytes = std::vector<uint8_t>;
using Kind = LineEvent::Kind;

namespace {

LineConfig quick(bool master = false, bool msec = false) {
    LineConfig c;
    c.master = master;
    c.msec = msec;
    c.retryCount = 2;
    c.t1Ms = 100;
    c.t2Ms = 1000;
    c.t4Ms = 5000;
    c.device = 1;
    return c;
}

// S1F1 W for device 1, system bytes 42, and its single block written out by
// hand: length, header with E-bit and block 1, checksum 0x012e.
const Bytes kS1F1 = {0x00, 0x01, 0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2a};
const Bytes kS1F1Block = {0x0a, 0x00, 0x01, 0x81, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x2a, 0x01, 0x2e};
// The same block from the master (the equipment): R-bit set, checksum 0x01ae.
const Bytes kS1F1MasterBlock = {0x0a, 0x80, 0x01, 0x81, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x2a, 0x01, 0xae};
// For device 5, with the checksum it needs.
const Bytes kOtherDeviceBlock = {0x0a, 0x00, 0x05, 0x81, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x2a, 0x01, 0x32};

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

// At `at` the peer's bytes arrive (none: only the clock moves to `at`); the
// core must then have written exactly `out`.
struct Step {
    Millis at;
    Bytes in;
    Bytes out;
};

struct Trace {
    const char* name;
    LineConfig config;
    std::vector<Bytes> sends; // queued at time 0, before the first step
    std::vector<Step> steps;
    std::vector<short> errors;
    std::vector<Bytes> delivered;
    std::vector<bool> sent; // the SendCompleted outcomes, in order
};

void PrintTo(const Trace& t, std::ostream* os) { *os << t.name; }

const Bytes kBad = [] {
    Bytes b = kS1F1Block;
    b.back() ^= 0x01;
    return b;
}();
const Bytes kHalf(kS1F1Block.begin(), kS1F1Block.begin() + 6);
const Bytes kLong = message(300), kLong2 = message(600);

Trace badLength(uint8_t length) {
    // Garbage after a bad length byte is waited out: NAK once the line has
    // been quiet for T1, and the line works again.
    return {"bad length", quick(), {},
            {{0, {kEnq, length, 1, 2, 3}, {kEot}}, {90, {4, 5}, {}}, {189, {}, {}}, {190, {}, {kNak}},
             {200, {kEnq}, {kEot}}, {201, kS1F1Block, {kAck}}},
            {InvalidLength}, {asReceived(kS1F1)}, {}};
}

const Trace kTraces[] = {
    {"single block after the handshake", quick(), {kS1F1},
     {{0, {}, {kEnq}}, {5, {kEot}, kS1F1Block}, {6, {kAck}, {}}}, {}, {}, {true}},
    {"NAK and silence are retried, then the send is given up", quick(), {kS1F1},
     {{0, {}, {kEnq}}, {1, {kEot}, kS1F1Block}, {2, {kNak}, {kEnq}}, {1001, {}, {}}, {1002, {}, {kEnq}},
      {1100, {kEot}, kS1F1Block}, {2099, {}, {}}, {2100, {}, {}}},
     {ReceivedNak, T2Expired, T2Expired, RetryOver}, {}, {false}},
    {"the next queued message starts after a failure", [] { LineConfig c = quick(); c.retryCount = 0; return c; }(),
     {kS1F1, message(3)},
     {{0, {}, {kEnq}}, {1000, {}, {kEnq}}, {1001, {kEot}, {0x0d, 0x00, 0x01, 0x06, 0x0b, 0x80, 0x01, 0, 0, 0, 7, 3, 10, 17, 0x00, 0xb8}},
      {1002, {kAck}, {}}},
     {T2Expired, RetryOver}, {}, {false, true}},
    {"a slave yields to a crossing ENQ, receives, then sends", quick(false), {kS1F1},
     {{0, {}, {kEnq}}, {1, {kEnq}, {kEot}}, {2, kS1F1MasterBlock, {kAck, kEnq}}, {3, {kEot}, kS1F1Block}, {4, {kAck}, {}}},
     {UnexpectedChar}, {[] { Bytes m = asReceived(kS1F1); m[0] = 0x80; return m; }()}, {true}},
    {"a master keeps waiting for its EOT", quick(true), {kS1F1},
     {{0, {}, {kEnq}}, {1, {kEnq}, {}}, {2, {kEot}, kS1F1MasterBlock}, {3, {kAck}, {}}},
     {UnexpectedChar}, {}, {true}},
    {"a NAKed block of a continuous message is retried with a full handshake", quick(false, true), {kLong},
     {{0, {}, {kEnq}}, {0, {kEot}, frameBlock(kLong, 0, false)}, {0, {kAck}, frameBlock(kLong, 1, false)},
      {1, {kNak}, {kEnq}}, {2, {kEot}, frameBlock(kLong, 1, false)}, {3, {kAck}, {}}},
     {ReceivedNak}, {}, {true}},

    {"a received block is acked and delivered", quick(), {},
     {{0, {kEnq}, {kEot}}, {1, kS1F1Block, {kAck}}}, {}, {asReceived(kS1F1)}, {}},
    {"a bad checksum is NAKed and the retry delivered once", quick(), {},
     {{0, {kEnq}, {kEot}}, {1, kBad, {kNak}}, {2, {kEnq}, {kEot}}, {3, kS1F1Block, {kAck}}},
     {BadChecksum}, {asReceived(kS1F1)}, {}},
    {"a block repeated after a lost ACK is acked but kept once", quick(), {},
     {{0, {kEnq}, {kEot}}, {0, kS1F1Block, {kAck}}, {1, {kEnq}, {kEot}}, {1, kS1F1Block, {kAck}}},
     {}, {asReceived(kS1F1)}, {}},
    badLength(9), badLength(255), badLength(0),
    {"a peer stopping mid-block gets NAK after T1", quick(), {},
     {{0, {kEnq}, {kEot}}, {10, kHalf, {}}, {109, {}, {}}, {110, {}, {kNak}}}, {T1Expired}, {}, {}},
    {"no length byte after EOT gets NAK after T2", quick(), {},
     {{0, {kEnq}, {kEot}}, {999, {}, {}}, {1000, {}, {kNak}}}, {T2Expired}, {}, {}},
    {"a missing next block drops the part after T4; a late one belongs to nothing", quick(), {},
     {{0, {kEnq}, {kEot}}, {0, frameBlock(kLong, 0, false), {kAck}}, {4999, {}, {}}, {5000, {}, {}},
      {5001, {kEnq}, {kEot}}, {5002, frameBlock(kLong, 1, false), {kAck}}},
     {T4Expired, InvalidMultiBlock}, {}, {}},
    {"a gap in the block numbers drops the message", quick(), {},
     {{0, {kEnq}, {kEot}}, {0, frameBlock(kLong2, 0, false), {kAck}}, {1, {kEnq}, {kEot}},
      {1, frameBlock(kLong2, 2, false), {kAck}}},
     {InvalidBlockNumber}, {}, {}},
    {"a new message before the last block replaces the open one", quick(), {},
     {{0, {kEnq}, {kEot}}, {0, frameBlock(message(300, 1), 0, false), {kAck}}, {1, {kEnq}, {kEot}},
      {1, frameBlock(message(5, 2), 0, false), {kAck}}},
     {InvalidMultiBlock}, {asReceived(message(5, 2))}, {}},
    {"another device is reported and still delivered", quick(), {},
     {{0, {kEnq}, {kEot}}, {0, kOtherDeviceBlock, {kAck}}}, {InvalidDeviceId},
     {asReceived({0x00, 0x05, 0x81, 0x01, 0, 0, 0, 0, 0, 0x2a})}, {}},
    {"noise on an idle line is reported once per stretch and ignored", quick(), {},
     {{0, {0x41, 0x42, 0x00, 0xff}, {}}, {1, {kEnq}, {kEot}}, {1, kS1F1Block, {kAck}}, {2, {0x7f}, {}}},
     {UnexpectedChar, UnexpectedChar}, {asReceived(kS1F1)}, {}},
};

class SecsiTrace : public ::testing::TestWithParam<Trace> {};

TEST_P(SecsiTrace, LineAnswersAndReports) {
    const Trace& t = GetParam();
    LineCore core(t.config);
    std::vector<uint64_t> ids;
    for (const Bytes& m : t.sends)
        ids.push_back(core.send(m, 0));
    for (std::size_t i = 0; i < t.steps.size(); ++i) {
        const Step& s = t.steps[i];
        if (s.in.empty())
            core.advance(s.at);
        else
            core.receive(s.in.data(), s.in.size(), s.at);
        EXPECT_EQ(core.takeOutput(), s.out) << "step " << i << " at " << s.at;
    }
    const auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), t.errors);
    std::vector<Bytes> delivered;
    for (const auto& e : only(events, Kind::MessageReceived))
        delivered.push_back(e.message);
    EXPECT_EQ(delivered, t.delivered);
    std::vector<bool> sent;
    for (const auto& e : only(events, Kind::SendCompleted)) {
        EXPECT_EQ(e.sendId, ids.at(sent.size()));
        sent.push_back(e.success);
    }
    EXPECT_EQ(sent, t.sent);
    EXPECT_EQ(core.state(), LineState::Idle);
}

INSTANTIATE_TEST_SUITE_P(Traces, SecsiTrace, ::testing::ValuesIn(kTraces));

// Two cores joined by a perfect line; the clock only moves when told.
struct Wire {
    LineCore a, b;
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
            b.receive(outA.data(), outA.size(), 0);
            a.receive(outB.data(), outB.size(), 0);
        }
        for (auto& e : a.takeEvents())
            eventsA.push_back(std::move(e));
        for (auto& e : b.takeEvents())
            eventsB.push_back(std::move(e));
    }
};

TEST(SecsiBlocks, ManyBlockMessageIsNumberedSplitAndJoinedWithOrWithoutHandshakes) {
    for (bool msec : {false, true}) {
        Wire w(quick(true, msec), quick(false, msec));
        const Bytes msg = message(3 * kMaxBlockData + 5);
        w.a.send(msg, 0);
        w.settle();
        std::vector<Bytes> frames;
        std::size_t enqs = 0;
        for (const Bytes& chunk : w.fromA) {
            if (chunk.size() > 1)
                frames.push_back(chunk);
            enqs += chunk == Bytes{kEnq};
        }
        EXPECT_EQ(enqs, msec ? 1u : 4u);
        // Blocks 1..4, the E-bit on the last only, the master's R-bit on each,
        // and the data cut in order.
        ASSERT_EQ(frames.size(), 4u);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Bytes& f = frames[i];
            ASSERT_EQ(f.size(), i == 3 ? 18u : 257u);
            EXPECT_EQ(std::size_t{f[0]}, f.size() - 3);
            EXPECT_EQ(f[1], 0x80);
            EXPECT_EQ(f[5], i == 3 ? 0x80 : 0x00) << "E-bit of block " << i + 1;
            EXPECT_EQ(std::size_t{f[6]}, i + 1) << "block number";
            EXPECT_TRUE(std::equal(f.begin() + 11, f.end() - 2, msg.begin() + static_cast<std::ptrdiff_t>(10 + i * kMaxBlockData)));
            unsigned sum = 0;
            for (std::size_t j = 1; j + 2 < f.size(); ++j)
                sum += f[j];
            EXPECT_EQ(f[f.size() - 2] * 256u + f.back(), sum & 0xffff);
        }
        // Joined with the header as on the line (R-bit included).
        Bytes want = asReceived(msg);
        want[0] |= 0x80;
        const auto got = only(w.eventsB, Kind::MessageReceived);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].message, want);
        EXPECT_TRUE(only(w.eventsA, Kind::SendCompleted).at(0).success);
        EXPECT_TRUE(errorCodes(w.eventsA).empty() && errorCodes(w.eventsB).empty());
        EXPECT_EQ(w.b.state(), LineState::Idle);
    }
}

TEST(SecsiBlocks, BothSidesSendingAtOnceBothSucceed) {
    for (bool aIsMaster : {true, false}) {
        Wire w(quick(aIsMaster), quick(!aIsMaster));
        w.a.send(message(400, 1), 0);
        w.b.send(message(300, 2), 0);
        w.settle();
        EXPECT_EQ(only(w.eventsA, Kind::MessageReceived).at(0).message[9], 2);
        EXPECT_EQ(only(w.eventsB, Kind::MessageReceived).at(0).message[9], 1);
        EXPECT_TRUE(only(w.eventsA, Kind::SendCompleted).at(0).success);
        EXPECT_TRUE(only(w.eventsB, Kind::SendCompleted).at(0).success);
    }
}

TEST(SecsiBlocks, MessagesThatCannotBeSentFailAtOnceAndTheLargestFits) {
    LineCore core(quick());
    core.send(Bytes(9, 0), 0);
    core.send(Bytes(kMaxMessageSize + 1, 0), 0);
    EXPECT_TRUE(core.takeOutput().empty());
    auto events = core.takeEvents();
    EXPECT_EQ(errorCodes(events), (std::vector<short>{InvalidLength, InvalidLength}));
    EXPECT_EQ(only(events, Kind::SendCompleted).size(), 2u);
    EXPECT_TRUE(checkSendable(Bytes(kMaxMessageSize, 0)).empty());
    const Bytes last = frameBlock(Bytes(kMaxMessageSize, 0x11), kMaxBlocks - 1, false);
    EXPECT_EQ(last[5], 0xff); // E-bit and block 32767
    EXPECT_EQ(last[6], 0xff);
}

TEST(SecsiBlocks, AbortFailsEverySendAndForgetsThePartialMessage) {
    LineCore core(quick());
    core.receive(&kEnq, 1, 0);
    const Bytes first = frameBlock(kLong, 0, false);
    core.receive(first.data(), first.size(), 0);
    core.send(kS1F1, 1);
    core.send(kS1F1, 1);
    core.takeEvents();
    core.abort();
    auto done = only(core.takeEvents(), Kind::SendCompleted);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_FALSE(done[0].success || done[1].success);
    EXPECT_FALSE(core.nextDeadline().has_value());
}

TEST(SecsiPorts, IndexCountsSerialThenUsbThenAcmDevicesAndTcpTargetsAreStrict) {
    tovik::test::ScratchDir dir;
    for (const char* name : {"ttyACM0", "ttyUSB10", "ttyS10", "ttyUSB2", "ttyS2", "tty0", "ttySx", "console"})
        tovik::test::writeFile(dir / name, "x");
    std::vector<std::string> names;
    for (const auto& p : serialDevices(dir.path().string()))
        names.push_back(std::filesystem::path(p).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"ttyS2", "ttyS10", "ttyUSB2", "ttyUSB10", "ttyACM0"}));

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

} // namespace
