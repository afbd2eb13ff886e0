#pragma once
// Connection state of one HSMS-SS link, driven by the messages that pass in
// both directions and by "now" (milliseconds on a steady clock). The driver
// does not answer control messages itself; it watches them to know whether the
// link is selected and which control transactions await a reply.
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
    int t7Ms = 10000; // connected but not selected
    int t8Ms = 5000;  // gap between bytes of one message
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
    void settle(std::uint32_t systemBytes, std::uint8_t replySType);
    bool settles(std::uint32_t systemBytes, std::uint8_t sType) const;

    Timeouts m_timeouts;
    LinkState m_state = LinkState::NotConnected;
    std::optional<std::int64_t> m_t7;
    std::optional<std::int64_t> m_t8;
    std::vector<Pending> m_pending; // control requests we sent, awaiting their reply
};

// Name of a control message's session type, for details ("Select.req").
const char* sTypeName(std::uint8_t sType);

} // namespace tovik::hsms
