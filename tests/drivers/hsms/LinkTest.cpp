// One HSMS link as byte traces: frames and times in; the bytes it writes, the
// events it raises and its next deadline out. No sockets, no waiting.
#include "frames.h"
#include "hsms_link.h"

#include <gtest/gtest.h>

using namespace hsmstest;
using namespace tovik::hsms;

namespace {

struct Trace {
    explicit Trace(Timeouts t = {}, bool passive = true, std::uint32_t max = kDefaultMaxMessageLength)
        : link({t, max, passive}, 0) {}

    // Bytes arrive at `now`; every event they raise, one line each.
    std::vector<std::string> in(const Bytes& bytes, Millis at) {
        link.receive(bytes.data(), bytes.size(), at);
        return events(at);
    }
    std::vector<std::string> in(const std::string& hex, Millis at) { return in(framed(hex), at); }
    // The program sends a message; gives what goes on the wire.
    std::string send(const std::string& hex, Millis at) {
        const Bytes m = bytesOf(hex);
        link.send(m.data(), m.size(), at);
        return hexOf(link.takeOutput());
    }
    // Time passes; gives what the link wrote and raised.
    std::vector<std::string> at(Millis now) {
        link.advance(now);
        std::vector<std::string> out;
        if (link.hasOutput())
            out.push_back("out " + hexOf(link.takeOutput()));
        for (auto& e : events(now))
            out.push_back(e);
        return out;
    }
    std::vector<std::string> events(Millis now) {
        std::vector<std::string> out;
        while (auto ev = link.poll(now)) {
            if (ev->kind == LinkEvent::Kind::MessageReceived) {
                out.push_back("recv " + hexOf(ev->message));
                continue;
            }
            static const char* names[] = {"too long", "T6", "T7", "T8"};
            out.push_back(std::string("fail ") + names[static_cast<int>(ev->failure)] + ": " +
                          ev->detail);
        }
        return out;
    }
    LinkCore link;
};

using Lines = std::vector<std::string>;

} // namespace

// The same stream whole, in single bytes and in odd-sized pieces gives the
// same messages.
TEST(HsmsLink, FramesAreTheSameHoweverTheBytesAreSplit) {
    const Bytes stream = concat({framed("00018101000000000001"), framed("000181030000000000020102abcdef"),
                                 framed("0001810500000000000341ab")});
    const Lines want = {"recv 00018101000000000001", "recv 000181030000000000020102abcdef",
                        "recv 0001810500000000000341ab"};
    for (std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{15}}) {
        Trace t;
        Lines got;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const Bytes piece(stream.begin() + static_cast<std::ptrdiff_t>(at),
                              stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + chunk)));
            for (auto& e : t.in(piece, 0))
                got.push_back(e);
        }
        EXPECT_EQ(got, want) << "chunk " << chunk;
    }
}

// A length field below the header or above the maximum fails the link after
// the messages that came whole before it; its body is never waited for and
// nothing after it is read.
TEST(HsmsLink, BadLengthFieldsFailTheLinkAfterEarlierMessages) {
    struct Case {
        std::uint32_t max;
        Bytes bad;
        std::string detail;
    };
    const Case cases[] = {
        {kDefaultMaxMessageLength, {0, 0, 0, 9}, "message length 9 is shorter than the 10-byte header"},
        {kDefaultMaxMessageLength, {0x80, 0, 0, 0}, "message length 2147483648 is above the maximum of 16777216 bytes"},
        {100, {0, 0, 0, 101}, "message length 101 is above the maximum of 100 bytes"},
    };
    for (const Case& c : cases) {
        Trace t({}, true, c.max);
        EXPECT_EQ(t.in(concat({framed("00018101000000000001"), c.bad}), 5),
                  (Lines{"recv 00018101000000000001", "fail too long: " + c.detail}));
        EXPECT_EQ(t.in("00018101000000000002", 6), Lines{});
        EXPECT_FALSE(t.link.nextDeadline());
    }
}

// The passive side is selected only by its own accepting Select.rsp; until
// then T7 runs from the connection's start, and when it runs out the link fails.
TEST(HsmsLink, PassiveSelectAndT7) {
    Trace t({5000, 10000, 5000});
    EXPECT_EQ(t.link.nextDeadline(), 10000);
    EXPECT_EQ(t.in("ffff0000000100000005", 100), Lines{"recv ffff0000000100000005"});
    EXPECT_EQ(t.send("ffff0001000200000005", 150), "0000000affff0001000200000005");
    EXPECT_EQ(t.link.state(), LinkState::NotSelected); // status 1 refuses
    EXPECT_EQ(t.at(9999), Lines{});
    EXPECT_EQ(t.at(10000), Lines{"fail T7: T7: not selected within 10000 ms"});

    Trace ok({5000, 10000, 5000});
    ok.send("ffff0000000200000005", 200);
    EXPECT_EQ(ok.link.state(), LinkState::Selected);
    EXPECT_FALSE(ok.link.nextDeadline());
    EXPECT_EQ(ok.at(1'000'000), Lines{});

    Trace active({5000, 10000, 5000}, false); // T7 is the passive side's alone
    EXPECT_FALSE(active.link.nextDeadline());
}

// Once selected a link is never T7's again: Separate.req, and a Deselect
// the program accepts, leave it not selected without a deadline.
TEST(HsmsLink, SeparateAndDeselectLeaveTheLinkUpWithoutT7) {
    Trace t({5000, 10000, 5000});
    t.send("ffff0000000200000001", 0);
    EXPECT_EQ(t.in("ffff0000000900000002", 50000), Lines{"recv ffff0000000900000002"});
    EXPECT_EQ(t.link.state(), LinkState::NotSelected);
    EXPECT_FALSE(t.link.nextDeadline());
    t.send("ffff0000000200000003", 60000);
    t.in("ffff0000000300000004", 70000);
    EXPECT_EQ(t.link.state(), LinkState::Selected); // a request alone changes nothing
    t.send("ffff0000000400000004", 70001);
    EXPECT_EQ(t.link.state(), LinkState::NotSelected);
    EXPECT_EQ(t.at(1'000'000), Lines{});
}

// A control request the program sends awaits its own reply within T6: a
// reply with other system bytes or a data message settles nothing; a
// Reject.req ends its own request only; a refusing Select.rsp ends the
// request without selecting.
TEST(HsmsLink, ControlRequestsAwaitTheirOwnReplyWithinT6) {
    Trace t({3000, 0, 0}, false);
    EXPECT_EQ(t.send("ffff0000000100000011", 100), "0000000affff0000000100000011");
    t.send("ffff0000000500000012", 110);
    t.send("ffff0000000300000013", 120);
    EXPECT_EQ(t.link.nextDeadline(), 3100);
    t.in("ffff0000000200000099", 200); // other system bytes
    t.in("00000000000000000011", 210); // data message
    t.in("ffff0000000300000011", 215); // same system bytes, not a reply
    t.in("ffff0000000700000013", 220); // Reject.req of the Deselect.req
    t.in("ffff0000000600000012", 240);
    EXPECT_EQ(t.link.state(), LinkState::NotSelected);
    EXPECT_EQ(t.at(3099), Lines{});
    EXPECT_EQ(t.at(3100),
              Lines{"fail T6: T6: no reply to Select.req (system bytes 00000011) within 3000 ms"});

    for (const char* status : {"00", "01"}) {
        Trace s({3000, 0, 0}, false);
        s.send("ffff0000000100000011", 100);
        s.in(std::string("ffff00") + status + "000200000011", 200);
        EXPECT_EQ(s.link.state(), status == std::string("00") ? LinkState::Selected : LinkState::NotSelected);
        EXPECT_FALSE(s.link.nextDeadline());
    }
}

// A selected link silent for the interval writes its own Linktest.req, one
// at a time; the reply is not delivered and the next probe has new system
// bytes; a probe unanswered within T6 fails the link.
TEST(HsmsLink, SilentSelectedLinkIsProbed) {
    Trace t({1000, 0, 0, 500});
    EXPECT_FALSE(t.link.nextDeadline()); // not selected: nothing to probe
    t.send("ffff0000000200000001", 100);
    t.in("00018101000000000002", 300);
    EXPECT_EQ(t.link.nextDeadline(), 800);
    EXPECT_EQ(t.at(799), Lines{});
    EXPECT_EQ(t.at(800), Lines{"out 0000000affff00000005fffe0000"});
    EXPECT_EQ(t.at(1500), Lines{}); // one out at a time
    EXPECT_EQ(t.in("ffff00000006fffe0001", 900), Lines{"recv ffff00000006fffe0001"});
    EXPECT_EQ(t.in("ffff00000006fffe0000", 1000), Lines{});
    EXPECT_EQ(t.at(1500), Lines{"out 0000000affff00000005fffe0001"});
    EXPECT_EQ(t.at(2499), Lines{});
    EXPECT_EQ(t.at(2500),
              Lines{"fail T6: T6: no reply to Linktest.req (system bytes fffe0001) within 1000 ms"});
}

// T8 runs only while a message is incomplete: each byte inside it restarts
// the gap, a message finished in time stops it, and a stall fails the link
// naming how much had come.
TEST(HsmsLink, T8WatchesTheGapsInsideAMessage) {
    Trace t({5000, 0, 2000}, false);
    const Bytes m = framed("000181030000000000020102");
    EXPECT_EQ(t.in(Bytes(m.begin(), m.begin() + 6), 100), Lines{});
    EXPECT_EQ(t.link.nextDeadline(), 2100);
    EXPECT_EQ(t.in(Bytes(m.begin() + 6, m.end() - 1), 2000), Lines{});
    EXPECT_EQ(t.at(3999), Lines{});
    EXPECT_EQ(t.in(Bytes{m.back()}, 3999), Lines{"recv 000181030000000000020102"});
    EXPECT_FALSE(t.link.nextDeadline());
    EXPECT_EQ(t.in(Bytes(m.begin(), m.begin() + 8), 5000), Lines{});
    EXPECT_EQ(t.at(7000),
              Lines{"fail T8: T8: no byte for 2000 ms inside a message (8 bytes of it had arrived)"});
    EXPECT_FALSE(t.link.nextDeadline());
}

// Messages are looked at as they are taken: the program's answer to the
// first is seen before the second is.
TEST(HsmsLink, EachMessageIsSeenAfterTheAnswerToTheOneBefore) {
    Trace t({5000, 10000, 5000});
    const Bytes two = concat({framed("ffff0000000100000001"), framed("ffff0000000900000002")});
    t.link.receive(two.data(), two.size(), 10);
    ASSERT_TRUE(t.link.poll(10));
    t.send("ffff0000000200000001", 10);
    ASSERT_TRUE(t.link.poll(10)); // Separate.req after the Select.rsp
    EXPECT_EQ(t.link.state(), LinkState::NotSelected);
    EXPECT_FALSE(t.link.nextDeadline());
}

// A stalled sender costs what it sent, not what its length field announced;
// the message still comes whole when the rest arrives.
TEST(HsmsLink, PartialMessageHoldsOnlyWhatArrived) {
    FrameReader reader;
    std::vector<std::vector<std::uint8_t>> frames;
    const Bytes start = concat({{0x01, 0, 0, 0}, bytesOf("00018101000000000001"), Bytes(4096, 0x5a)});
    ASSERT_FALSE(reader.feed(start.data(), start.size(), frames));
    EXPECT_EQ(reader.pendingBytes(), start.size());
    EXPECT_LE(reader.bufferCapacity(), 2 * start.size()) << "sized by the length field";
    const Bytes rest(0x01000000 - 4096 - 10, 0xa5);
    ASSERT_FALSE(reader.feed(rest.data(), rest.size(), frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 0x01000000u);
    EXPECT_EQ(frames[0][10 + 4095], 0x5a);
    EXPECT_EQ(frames[0].back(), 0xa5);
    EXPECT_EQ(reader.framesCompleted(), 1u);
    EXPECT_EQ(reader.pendingBytes(), 0u);
}
