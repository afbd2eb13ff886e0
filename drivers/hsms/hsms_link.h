#pragma once
// One HSMS-SS link as a state machine over bytes and time: the socket layer
// feeds received bytes and "now" in, and takes bytes to write, events and the
// next deadline out. No sockets, no clock and no Qt of its own, so every timer
// can be driven from a test or a fuzzer without waiting.
//
// The link answers nothing on the program's behalf: control messages pass
// through like data messages and are only watched, to know whether the link
// is selected (T7) and which control requests await their reply (T6). Its
// only request of its own is the linktest of a selected link that was silent
// for the linktest interval; that request and its reply are not delivered.
#include "HsmsFrameReader.h"
#include "HsmsSession.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tovik::hsms {

using Millis = std::int64_t;

struct LinkConfig {
    Timeouts timeouts;
    std::uint32_t maxLength = kDefaultMaxMessageLength;
    // T7 guards only the passive side: an active connection is the program's
    // own and stays until it closes it.
    bool passive = false;
};

struct LinkEvent {
    enum class Kind {
        MessageReceived, // `message`: header then body
        Failed,          // `failure` and `detail`; the link must be dropped
    };
    enum class Failure { TooLong, T6, T7, T8 };
    Kind kind = Kind::MessageReceived;
    std::vector<std::uint8_t> message;
    Failure failure = Failure::TooLong;
    std::string detail;
};

class LinkCore {
public:
    explicit LinkCore(LinkConfig config = {}, Millis now = 0);

    // Timeouts apply from the next event, the maximum length from the next length field.
    void setConfig(const LinkConfig& config);
    const LinkConfig& config() const { return m_cfg; }

    void receive(const std::uint8_t* data, std::size_t size, Millis now);
    // The next event, in arrival order. Messages are looked at one at a time
    // as they are taken, so what the program sends in answer to one message
    // is seen before the next one is.
    std::optional<LinkEvent> poll(Millis now);
    // More events wait for poll (a batch of messages read at once).
    bool hasEvents() const { return !m_events.empty(); }

    // Frames one whole message (header then body) into the output.
    void send(const std::uint8_t* message, std::size_t size, Millis now);
    // Faults on purpose: a frame whose length field promises the whole
    // message while only its first half follows, and bytes that are no frame
    // at all. Either leaves the peer's reader out of step, so the link is
    // closed after it.
    void sendTruncated(const std::uint8_t* message, std::size_t size);
    void sendRaw(const std::uint8_t* bytes, std::size_t size);

    // Runs the timers due at `now`: an expiry queues a Failed event; a due
    // linktest puts its request into the output.
    void advance(Millis now);
    std::optional<Millis> nextDeadline() const;

    std::vector<std::uint8_t> takeOutput();
    bool hasOutput() const { return !m_out.empty(); }

    // Bytes of the unfinished message held so far (length field included), and
    // the count of messages completed, which tells a new partial one from the last.
    std::size_t partialBytes() const { return m_failed ? 0 : m_reader.pendingBytes(); }
    std::uint64_t framesCompleted() const { return m_reader.framesCompleted(); }

    LinkState state() const { return m_session.state(); }
    bool failed() const { return m_failed; }

private:
    void fail(LinkEvent::Failure failure, std::string detail);

    LinkConfig m_cfg;
    FrameReader m_reader;
    Session m_session;
    std::deque<LinkEvent> m_events;
    std::vector<std::vector<std::uint8_t>> m_frames; // reused by receive()
    std::vector<std::uint8_t> m_out;
    std::uint32_t m_linktests = 0;
    bool m_failed = false;
};

} // namespace tovik::hsms
