#include "HsmsSession.h"

#include "HsmsFrameReader.h"

#include <algorithm>
#include <cstdio>

namespace tovik::hsms {

namespace {

struct Control {
    std::uint8_t sType;
    std::uint8_t status; // header byte 3: select and deselect status
    std::uint32_t systemBytes;
};

// A control message has PType 0 and a non-zero SType; data messages pass unseen.
std::optional<Control> control(const std::uint8_t* m, std::size_t size) {
    if (size < kHeaderLength || m[4] != 0 || m[5] == 0)
        return std::nullopt;
    const std::uint32_t sb = (std::uint32_t{m[6]} << 24) | (std::uint32_t{m[7]} << 16) |
                             (std::uint32_t{m[8]} << 8) | std::uint32_t{m[9]};
    return Control{m[5], m[3], sb};
}

std::string hex8(std::uint32_t v) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
    return buf;
}

} // namespace

const char* sTypeName(std::uint8_t sType) {
    switch (sType) {
    case kSelectReq:
        return "Select.req";
    case kSelectRsp:
        return "Select.rsp";
    case kDeselectReq:
        return "Deselect.req";
    case kDeselectRsp:
        return "Deselect.rsp";
    case kLinktestReq:
        return "Linktest.req";
    case kLinktestRsp:
        return "Linktest.rsp";
    case kRejectReq:
        return "Reject.req";
    case kSeparateReq:
        return "Separate.req";
    default:
        return "control message";
    }
}

void Session::connected(std::int64_t now) {
    m_pending.clear();
    m_t8.reset();
    m_probe.reset();
    m_everSelected = false;
    m_heardAt = now;
    enterNotSelected(now);
}

void Session::disconnected() {
    m_state = LinkState::NotConnected;
    m_t7.reset();
    m_t8.reset();
    m_probe.reset();
    m_pending.clear();
}

// A link once selected and then separated or deselected stays up: whether it
// is used again is the program's business, not a timer's.
void Session::enterNotSelected(std::int64_t now) {
    m_state = LinkState::NotSelected;
    if (m_timeouts.t7Ms > 0 && !m_everSelected)
        m_t7 = now + m_timeouts.t7Ms;
    else
        m_t7.reset();
}

void Session::enterSelected() {
    m_state = LinkState::Selected;
    m_everSelected = true;
    m_t7.reset();
}

bool Session::settles(std::uint32_t systemBytes, std::uint8_t sType) const {
    return std::any_of(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
        return p.systemBytes == systemBytes && p.sType + 1 == sType;
    });
}

void Session::settle(std::uint32_t systemBytes, std::uint8_t replySType) {
    // A Reject.req with the request's system bytes ends the transaction too.
    std::erase_if(m_pending, [&](const Pending& p) {
        return p.systemBytes == systemBytes &&
               (p.sType + 1 == replySType || replySType == kRejectReq);
    });
}

void Session::received(const std::uint8_t* message, std::size_t size, std::int64_t now) {
    if (m_state == LinkState::NotConnected)
        return;
    const auto c = control(message, size);
    if (!c)
        return;
    switch (c->sType) {
    case kSelectRsp:
        if (settles(c->systemBytes, c->sType) && c->status == 0)
            enterSelected();
        break;
    case kDeselectRsp:
        if (settles(c->systemBytes, c->sType) && c->status == 0)
            enterNotSelected(now);
        break;
    case kSeparateReq:
        if (m_state == LinkState::Selected)
            enterNotSelected(now);
        break;
    default:
        break;
    }
    settle(c->systemBytes, c->sType);
}

void Session::sent(const std::uint8_t* message, std::size_t size, std::int64_t now) {
    if (m_state == LinkState::NotConnected)
        return;
    const auto c = control(message, size);
    if (!c)
        return;
    switch (c->sType) {
    case kSelectReq:
    case kDeselectReq:
    case kLinktestReq:
        if (m_timeouts.t6Ms > 0) {
            settle(c->systemBytes, static_cast<std::uint8_t>(c->sType + 1));
            m_pending.push_back({c->systemBytes, c->sType, now + m_timeouts.t6Ms});
        }
        break;
    case kSelectRsp: // our answer to the peer's Select.req
        if (c->status == 0)
            enterSelected();
        break;
    case kDeselectRsp:
        if (c->status == 0 && m_state == LinkState::Selected)
            enterNotSelected(now);
        break;
    case kSeparateReq:
        if (m_state == LinkState::Selected)
            enterNotSelected(now);
        break;
    default:
        break;
    }
}

void Session::bytesArrived(std::int64_t now, bool midFrame) {
    m_heardAt = now;
    if (midFrame && m_timeouts.t8Ms > 0 && m_state != LinkState::NotConnected)
        m_t8 = now + m_timeouts.t8Ms;
    else
        m_t8.reset();
}

std::optional<std::int64_t> Session::linktestAt() const {
    if (m_timeouts.linktestMs <= 0 || m_state != LinkState::Selected || m_probe)
        return std::nullopt;
    return m_heardAt + m_timeouts.linktestMs;
}

bool Session::linktestDue(std::int64_t now) const {
    const auto at = linktestAt();
    return at && *at <= now;
}

bool Session::ownLinktestReply(const std::uint8_t* message, std::size_t size) {
    const auto c = control(message, size);
    if (!m_probe || !c || c->sType != kLinktestRsp || c->systemBytes != *m_probe)
        return false;
    m_probe.reset();
    return true;
}

std::optional<std::int64_t> Session::nextDeadline() const {
    std::optional<std::int64_t> next;
    auto consider = [&](std::optional<std::int64_t> d) {
        if (d && (!next || *d < *next))
            next = d;
    };
    consider(linktestAt());
    consider(m_t7);
    consider(m_t8);
    for (const Pending& p : m_pending)
        consider(p.deadline);
    return next;
}

std::optional<Expiry> Session::expired(std::int64_t now) const {
    std::optional<Expiry> first;
    std::int64_t firstAt = 0;
    auto consider = [&](std::int64_t at, TimerKind kind, auto&& detail) {
        if (at <= now && (!first || at < firstAt)) {
            first = Expiry{kind, detail()};
            firstAt = at;
        }
    };
    if (m_t8)
        consider(*m_t8, TimerKind::T8, [&] {
            return "T8: no byte for " + std::to_string(m_timeouts.t8Ms) + " ms inside a message";
        });
    for (const Pending& p : m_pending)
        consider(p.deadline, TimerKind::T6, [&] {
            return std::string("T6: no reply to ") + sTypeName(p.sType) + " (system bytes " +
                   hex8(p.systemBytes) + ") within " + std::to_string(m_timeouts.t6Ms) + " ms";
        });
    if (m_t7)
        consider(*m_t7, TimerKind::T7, [&] {
            return "T7: not selected within " + std::to_string(m_timeouts.t7Ms) + " ms";
        });
    return first;
}

} // namespace tovik::hsms
