#pragma once
// Connection state of one HSMS-SS link, driven by the messages that pass in
// both directions and by "now" (milliseconds on a steady clock). The driver
// does not answer control messages itself; it watches them to know whether the
// link is selected and which control transactions await a reply. Its only
// request of its own is the optional linktest of a silent selected link.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovik::hsms {

enum class LinkState { NotConnected, NotSelected, Selected };

// Session types of the control messages in header byte 5 (0 is a data message).
enum SType : std::uint8_t {
    kSelectReq = 1,
    kSelectRsp = 2,
    kDeselectReq = 3,
    kDeselectRsp = 4,
    kLinktestReq = 5,
    kLinktestRsp = 6,
    kRejectReq = 7,
    kSeparateReq = 9,
};

struct Timeouts {
    int t6Ms = 5000;  // control transaction reply
    int t7Ms = 10000; // connected and never selected yet
    int t8Ms = 5000;  // gap between bytes of one message
    int linktestMs = 0; // silence on a selected link before our own Linktest.req
};

enum class TimerKind { T6, T7, T8 };

struct Expiry {
    TimerKind kind;
    std::string detail;
};

class Session {
public:
    // Timeouts of 0 or less switch that timer off; they apply from the next event.
    void setTimeouts(const Timeouts& t) { m_timeouts = t; }
    const Timeouts& timeouts() const { return m_timeouts; }

    void connected(std::int64_t now);
    void disconnected();
    // A whole message received or handed to the socket, header first.
    void received(const std::uint8_t* message, std::size_t size, std::int64_t now);
    void sent(const std::uint8_t* message, std::size_t size, std::int64_t now);
    // Bytes arrived; `midFrame` says whether a message is still incomplete afterwards.
    void bytesArrived(std::int64_t now, bool midFrame);

    // Selected, silent for the linktest interval and no linktest of ours out.
    bool linktestDue(std::int64_t now) const;
    // Our own Linktest.req went out (after sent()) with these system bytes.
    void linktestSent(std::uint32_t systemBytes) { m_probe = systemBytes; }
    // True when a received message is the reply to our own linktest; the
    // linktest is then over.
    bool ownLinktestReply(const std::uint8_t* message, std::size_t size);

    LinkState state() const { return m_state; }
    // Earliest time at which expired() may report something.
    std::optional<std::int64_t> nextDeadline() const;
    // The earliest timer that has run out at `now`; the link must then be dropped.
    std::optional<Expiry> expired(std::int64_t now) const;

private:
    struct Pending {
        std::uint32_t systemBytes;
        std::uint8_t sType;
        std::int64_t deadline;
    };
    void enterNotSelected(std::int64_t now);
    void enterSelected();
    std::optional<std::int64_t> linktestAt() const;
    void settle(std::uint32_t systemBytes, std::uint8_t replySType);
    bool settles(std::uint32_t systemBytes, std::uint8_t sType) const;

    Timeouts m_timeouts;
    LinkState m_state = LinkState::NotConnected;
    bool m_everSelected = false; // T7 guards only a link never selected
    std::optional<std::int64_t> m_t7;
    std::optional<std::int64_t> m_t8;
    std::int64_t m_heardAt = 0;          // last bytes from the peer
    std::optional<std::uint32_t> m_probe; // our own linktest awaiting its reply
    std::vector<Pending> m_pending; // control requests we sent, awaiting their reply
};

// Name of a control message's session type, for details ("Select.req").
const char* sTypeName(std::uint8_t sType);

} // namespace tovik::hsms
