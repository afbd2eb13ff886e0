#include "hsms_link.h"

#include <utility>

namespace tovik::hsms {

namespace {

void putLength(std::vector<std::uint8_t>& out, std::uint32_t length) {
    out.push_back(static_cast<std::uint8_t>(length >> 24));
    out.push_back(static_cast<std::uint8_t>(length >> 16));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
}

} // namespace

LinkCore::LinkCore(LinkConfig config, Millis now) {
    setConfig(config);
    m_session.connected(now);
}

void LinkCore::setConfig(const LinkConfig& config) {
    m_cfg = config;
    if (!m_cfg.passive)
        m_cfg.timeouts.t7Ms = 0;
    m_reader.setMaxLength(m_cfg.maxLength);
    m_session.setTimeouts(m_cfg.timeouts);
}

void LinkCore::fail(LinkEvent::Failure failure, std::string detail) {
    m_failed = true;
    m_session.disconnected();
    LinkEvent ev;
    ev.kind = LinkEvent::Kind::Failed;
    ev.failure = failure;
    ev.detail = std::move(detail);
    m_events.push_back(std::move(ev));
}

void LinkCore::receive(const std::uint8_t* data, std::size_t size, Millis now) {
    if (m_failed)
        return;
    m_frames.clear();
    const auto error = m_reader.feed(data, size, m_frames);
    // Everything that arrived whole before a fault is still delivered.
    for (auto& frame : m_frames) {
        LinkEvent ev;
        ev.message = std::move(frame);
        m_events.push_back(std::move(ev));
    }
    m_frames.clear();
    if (error) {
        fail(LinkEvent::Failure::TooLong, error->message);
        return;
    }
    m_session.bytesArrived(now, m_reader.midFrame());
}

std::optional<LinkEvent> LinkCore::poll(Millis now) {
    while (!m_events.empty()) {
        LinkEvent ev = std::move(m_events.front());
        m_events.pop_front();
        if (ev.kind == LinkEvent::Kind::MessageReceived) {
            const auto& m = ev.message;
            m_session.received(m.data(), m.size(), now);
            if (m_session.ownLinktestReply(m.data(), m.size()))
                continue;
        }
        return ev;
    }
    return std::nullopt;
}

void LinkCore::send(const std::uint8_t* message, std::size_t size, Millis now) {
    putLength(m_out, static_cast<std::uint32_t>(size));
    m_out.insert(m_out.end(), message, message + size);
    m_session.sent(message, size, now);
}

void LinkCore::sendTruncated(const std::uint8_t* message, std::size_t size) {
    putLength(m_out, static_cast<std::uint32_t>(size));
    m_out.insert(m_out.end(), message, message + size / 2);
}

void LinkCore::sendRaw(const std::uint8_t* bytes, std::size_t size) {
    m_out.insert(m_out.end(), bytes, bytes + size);
}

void LinkCore::advance(Millis now) {
    if (m_failed)
        return;
    if (const auto expiry = m_session.expired(now)) {
        switch (expiry->kind) {
        case TimerKind::T6:
            fail(LinkEvent::Failure::T6, expiry->detail);
            break;
        case TimerKind::T7:
            fail(LinkEvent::Failure::T7, expiry->detail);
            break;
        case TimerKind::T8:
            fail(LinkEvent::Failure::T8, expiry->detail + " (" +
                                             std::to_string(m_reader.pendingBytes()) +
                                             " bytes of it had arrived)");
            break;
        }
        return;
    }
    if (!m_session.linktestDue(now))
        return;
    // The link's own linktests use system bytes of their own, so a reply is
    // never taken for one to the program's requests.
    const std::uint32_t system = 0xfffe0000u | (m_linktests++ & 0xffffu);
    const std::uint8_t request[kHeaderLength] = {0xff, 0xff, 0, 0, 0, kLinktestReq,
                                                 static_cast<std::uint8_t>(system >> 24),
                                                 static_cast<std::uint8_t>(system >> 16),
                                                 static_cast<std::uint8_t>(system >> 8),
                                                 static_cast<std::uint8_t>(system)};
    send(request, sizeof request, now);
    m_session.linktestSent(system);
}

std::optional<Millis> LinkCore::nextDeadline() const {
    if (m_failed)
        return std::nullopt;
    return m_session.nextDeadline();
}

std::vector<std::uint8_t> LinkCore::takeOutput() {
    return std::exchange(m_out, {});
}

} // namespace tovik::hsms
