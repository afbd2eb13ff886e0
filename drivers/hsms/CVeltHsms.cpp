#include "CVeltHsms.h"

#include "HsmsSocket.h"
#include "hex.h"

#include <QHostAddress>
#include <QMetaMethod>
#include <QTcpServer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tovik::hsms;

namespace {

// Bytes that may wait in the socket's send buffer before SendHex refuses more.
constexpr qint64 kMaxQueuedBytes = qint64{64} * 1024 * 1024;
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr int kReadsPerPass = 16;
constexpr std::size_t kKeptSendCapacity = 64 * 1024;

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Peers on a dual-stack listener appear as "::ffff:a.b.c.d"; show them as IPv4.
QString addressText(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

QString normalisedAddress(const QString& text) {
    QHostAddress address;
    return address.setAddress(text) ? addressText(address) : text.trimmed().toLower();
}

// Lower-case hex straight into the QString the event carries: large messages
// are converted once instead of through an intermediate byte string.
QString hexText(const std::vector<std::uint8_t>& bytes) {
    static constexpr char16_t digits[] = u"0123456789abcdef";
    QString text(static_cast<qsizetype>(2 * bytes.size()), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (std::uint8_t b : bytes) {
        *out++ = digits[b >> 4];
        *out++ = digits[b & 0x0f];
    }
    return text;
}

} // namespace

// Accepted connections arrive as descriptors, for HsmsSocket to take over.
struct CVeltHsms::Listener : QTcpServer {
    using QTcpServer::QTcpServer;
    ~Listener() override {
        for (const int fd : pending)
            ::close(fd);
    }
    void incomingConnection(qintptr fd) override { pending.push_back(static_cast<int>(fd)); }
    std::vector<int> pending;
};

struct CVeltHsms::Link {
    quint64 id = 0;
    HsmsSocket* socket = nullptr;
    QString address;
    int port = 0;
    bool passive = false;
    bool announcePending = false;
    quint64 spokeAt = 0; // m_spoken when it last delivered a message
    quint64 partialSince = 0;  // m_partialStarts when its partial message began
    std::uint64_t framesSeen = 0;
    // A dribbled frame: its first `slow` bytes go out piece by piece, what
    // was sent after it follows at once.
    std::vector<std::uint8_t> dribble;
    std::size_t slow = 0;
    int piece = 1;
    int pauseMs = 0;
    LinkCore core;
    // The TCP ends as a capture names them, known once at connect.
    tovik::capture::Endpoint client, server;
};

std::vector<std::pair<QString, int>> CVeltHsms::GetPeers() const {
    std::vector<std::pair<QString, int>> peers;
    for (const auto& link : m_links)
        peers.emplace_back(link->address, link->port);
    return peers;
}

CVeltHsms::CVeltHsms(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CVeltHsms::onTimer);
}

CVeltHsms::~CVeltHsms() {
    SetRelayPartner(nullptr);
    // No events from a half-destroyed driver.
    for (const auto& link : m_links) {
        link->socket->disconnect(this);
        link->socket->abortLater();
    }
    if (m_server)
        m_server->disconnect(this);
}

void CVeltHsms::SetRemoteAddress(const QString& address) {
    m_remoteAddress = address;
}
void CVeltHsms::SetRemotePort(int port) {
    m_remotePort = port;
}
void CVeltHsms::SetLocalPort(int port) {
    m_localPort = port;
}
void CVeltHsms::SetServerMode(bool server) {
    m_serverMode = server;
}
void CVeltHsms::SetMaxClients(int count) {
    m_maxClients = std::max(1, count);
}

void CVeltHsms::SetT8Timeout(int ms) {
    m_timeouts.t8Ms = ms;
    applyTimeouts();
}
void CVeltHsms::SetT7Timeout(int ms) {
    m_timeouts.t7Ms = ms;
    applyTimeouts();
}
void CVeltHsms::SetT6Timeout(int ms) {
    m_timeouts.t6Ms = ms;
    applyTimeouts();
}
void CVeltHsms::SetLinktestInterval(int ms) {
    m_timeouts.linktestMs = ms;
    applyTimeouts();
}

LinkConfig CVeltHsms::configFor(bool passive) const {
    return LinkConfig{m_timeouts, m_maxLength, passive};
}

void CVeltHsms::applyTimeouts() {
    for (const auto& link : m_links)
        link->core.setConfig(configFor(link->passive));
    armTimer();
}

void CVeltHsms::SetMaxMessageLength(std::uint32_t bytes) {
    m_maxLength = bytes < kHeaderLength ? static_cast<std::uint32_t>(kHeaderLength) : bytes;
    for (const auto& link : m_links)
        link->core.setConfig(configFor(link->passive));
}

// What is actually open, not the mode setting, which may have been written since.
bool CVeltHsms::GetPortOpen() const {
    if (m_server)
        return m_server->isListening();
    return !m_links.empty();
}

int CVeltHsms::GetListeningPort() const {
    return m_server && m_server->isListening() ? m_server->serverPort() : 0;
}

CVeltHsms::State CVeltHsms::GetState() const {
    if (!m_links.empty()) {
        const bool selected = std::any_of(m_links.begin(), m_links.end(), [](const auto& link) {
            return link->core.state() == LinkState::Selected;
        });
        return selected ? Selected : Connected;
    }
    if (m_server && m_server->isListening())
        return Listening;
    return Closed;
}

void CVeltHsms::updateState() {
    const State s = GetState();
    if (s != m_state) {
        m_state = s;
        Q_EMIT StateChanged(s);
    }
}

CVeltHsms::Link* CVeltHsms::find(quint64 id) const {
    for (const auto& link : m_links)
        if (link->id == id)
            return link.get();
    return nullptr;
}

CVeltHsms::Link* CVeltHsms::sendTarget() const {
    if (m_links.size() == 1)
        return m_links.front().get();
    // The program copies the text of the events, so the plain comparison
    // nearly always decides; an address written by hand is normalised.
    for (const auto& link : m_links)
        if (link->port == m_remotePort && link->address == m_remoteAddress)
            return link.get();
    const QString wanted = normalisedAddress(m_remoteAddress);
    for (const auto& link : m_links)
        if (link->port == m_remotePort && link->address == wanted)
            return link.get();
    return nullptr;
}

void CVeltHsms::SetPortOpen(bool open) {
    if (!open) {
        while (!m_links.empty())
            dropLink(m_links.back()->id, true);
        closeServer();
        updateState();
        return;
    }
    if (m_server || !m_links.empty())
        return; // already open (or serving a client): leave it undisturbed
    if (m_serverMode) {
        m_server = new Listener(this);
        // Newcomers beyond the limit are accepted and closed, so the kernel's
        // queue is never what decides.
        m_server->setMaxPendingConnections(1024);
        connect(m_server, &QTcpServer::newConnection, this, &CVeltHsms::onNewConnection);
        if (m_localPort < 0 || m_localPort > 65535 ||
            !m_server->listen(QHostAddress::Any, static_cast<quint16>(m_localPort)))
            closeServer();
        updateState();
        return;
    }
    if (m_remotePort <= 0 || m_remotePort > 65535)
        return;
    // A name is looked up first, both within the connect timeout.
    const auto start = std::chrono::steady_clock::now();
    QHostAddress address;
    if (!address.setAddress(m_remoteAddress) && !address.setAddress(ResolveAddress(m_remoteAddress)))
        return;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const int fd = HsmsSocket::connectTo(address, m_remotePort,
                                         m_connectTimeoutMs - static_cast<int>(spent.count()));
    if (fd < 0)
        return;
    Link* link = attach(new HsmsSocket(fd, this));
    // The program reads PortOpen back before it hears of the connection, so
    // the events follow once control returns to the event loop.
    link->announcePending = true;
    QMetaObject::invokeMethod(
        this,
        [this, id = link->id] {
            if (Link* l = find(id); l && l->announcePending)
                announceConnection(id);
        },
        Qt::QueuedConnection);
}

void CVeltHsms::closeServer() {
    if (!m_server)
        return;
    m_server->disconnect(this);
    m_server->close();
    m_server->deleteLater();
    m_server = nullptr;
}

void CVeltHsms::onNewConnection() {
    while (m_server && !m_server->pending.empty()) {
        auto* socket = new HsmsSocket(m_server->pending.front(), this);
        m_server->pending.erase(m_server->pending.begin());
        if (static_cast<int>(m_links.size()) >= m_maxClients) {
            const QString address = addressText(socket->peerAddress());
            const int port = socket->peerPort();
            socket->abortLater();
            Q_EMIT ClientRefused(address, port, m_maxClients);
            continue;
        }
        announceConnection(attach(socket)->id);
    }
}

CVeltHsms::Link* CVeltHsms::attach(HsmsSocket* socket) {
    auto owned = std::make_unique<Link>();
    Link* link = owned.get();
    link->id = ++m_nextId;
    link->socket = socket;
    link->passive = m_serverMode && m_server != nullptr;
    link->core = LinkCore(configFor(link->passive), nowMs());
    link->address = addressText(socket->peerAddress());
    link->port = socket->peerPort();
    const tovik::capture::Endpoint local{socket->localAddress().toIPv4Address(), socket->localPort()};
    const tovik::capture::Endpoint peer{socket->peerAddress().toIPv4Address(), socket->peerPort()};
    // The side that connected is the TCP client.
    link->client = link->passive ? peer : local;
    link->server = link->passive ? local : peer;
    m_links.push_back(std::move(owned));

    const quint64 id = link->id;
    connect(socket, &HsmsSocket::readyRead, this, [this, id] { readAvailable(id); });
    connect(socket, &HsmsSocket::gone, this, [this, id] { onSocketGone(id); });
    armTimer();
    return link;
}

void CVeltHsms::announceConnection(quint64 id) {
    Link* link = find(id);
    if (!link)
        return;
    link->announcePending = false;
    const QString address = link->address;
    const int port = link->port;
    if (m_links.size() == 1 && (address != m_peerAddress || port != m_peerPort)) {
        m_peerAddress = address;
        m_peerPort = port;
        Q_EMIT PeerChanged(address, port);
        if (!find(id))
            return;
    }
    Q_EMIT ConnectionChanged(address, port, true);
    if (find(id)) {
        updateState();
        Q_EMIT ClientsChanged();
    }
}

void CVeltHsms::readAvailable(quint64 id) {
    Link* link = find(id);
    if (!link)
        return;
    if (link->announcePending) {
        announceConnection(id);
        link = find(id);
        if (!link)
            return;
    }
    m_readBuffer.resize(kReadChunk);
    // Everything waiting, straight from the kernel, many messages a read; a
    // short read means the kernel has no more. A peer that keeps the buffer
    // full is read again on the next pass, so the others get their turn.
    for (int reads = 0; reads < kReadsPerPass; ++reads) {
        const std::int64_t n = link->socket->read(m_readBuffer.data(), m_readBuffer.size());
        if (n < 0) {
            dropLink(id, false); // the peer closed: what it sent before is delivered
            return;
        }
        if (n == 0)
            break;
        if (m_capture)
            capture(*link, true, m_readBuffer.data(), static_cast<std::size_t>(n));
        link->core.receive(m_readBuffer.data(), static_cast<std::size_t>(n), nowMs());
        // A partial message left after messages completed is a new one.
        const std::uint64_t completed = link->core.framesCompleted();
        if (link->core.partialBytes() == 0)
            link->partialSince = 0;
        else if (link->partialSince == 0 || completed != link->framesSeen)
            link->partialSince = ++m_partialStarts;
        link->framesSeen = completed;
        if (!deliver(id) || !enforcePartialCap(id))
            return;
        link = find(id);
        if (!link)
            return; // a failed send dropped it
        if (static_cast<std::size_t>(n) < m_readBuffer.size())
            break;
    }
    armTimer();
    updateState();
}

// Hands the link's events to the program one at a time; false when the link
// is gone afterwards.
bool CVeltHsms::deliver(quint64 id) {
    Link* link = find(id);
    if (!link)
        return false;
    HsmsSocket* socket = link->socket;
    const QString address = link->address;
    const int port = link->port;
    const quint64 outer = m_delivering;
    m_delivering = id;
    bool delivered = false;
    while (auto ev = link->core.poll(nowMs())) {
        if (ev->kind == LinkEvent::Kind::Failed) {
            if (delivered)
                socket->flush();
            endDelivery(outer);
            raise(link, failureCode(ev->failure), QString::fromStdString(ev->detail));
            dropLink(id, false);
            return false;
        }
        delivered = true;
        link->spokeAt = ++m_spoken;
        // The speaker's text is made only when another link speaks, not
        // for every message.
        const bool newSpeaker = id != m_lastSpeakerId;
        if (newSpeaker) {
            m_lastSpeakerId = id;
            m_lastSpeaker = QStringLiteral("%1(%2)").arg(address).arg(port);
        }
        m_moreToDeliver = link->core.hasEvents();
        emitMessage(address, port, ev->message);
        link = find(id);
        if (!link) {
            endDelivery(outer);
            return false;
        }
        if (newSpeaker)
            Q_EMIT ClientsChanged();
    }
    // Replies sent from inside MessageReceived go out together now.
    if (delivered)
        socket->flush();
    endDelivery(outer);
    return true;
}

void CVeltHsms::endDelivery(quint64 outer) {
    m_delivering = outer;
    if (!outer && m_partner)
        m_partner->flushHeld();
}

void CVeltHsms::SetRelayPartner(CVeltHsms* partner) {
    if (m_partner)
        m_partner->m_partner = nullptr;
    m_partner = partner;
    if (partner)
        partner->m_partner = this;
}

// What was relayed during the partner's batch goes out in one write per link.
void CVeltHsms::flushHeld() {
    if (!m_flushHeld)
        return;
    m_flushHeld = false;
    std::vector<quint64> ids;
    for (const auto& link : m_links)
        ids.push_back(link->id);
    for (quint64 id : ids)
        if (Link* link = find(id))
            link->socket->flush(); // a failing flush may drop links
}

void CVeltHsms::emitMessage(const QString& address, int port, const std::vector<std::uint8_t>& message) {
    // Each form is made only for those who listen to it.
    if (isSignalConnected(QMetaMethod::fromSignal(&CVeltHsms::MessageArrived)))
        Q_EMIT MessageArrived(address, port,
                              QByteArray(reinterpret_cast<const char*>(message.data()),
                                         static_cast<qsizetype>(message.size())));
    if (isSignalConnected(QMetaMethod::fromSignal(&CVeltHsms::MessageReceived)))
        Q_EMIT MessageReceived(address, port, hexText(message));
}

// Drops connections, oldest partial message first, until what all of them
// hold in partial messages is within the cap; false when `reading` went.
bool CVeltHsms::enforcePartialCap(quint64 reading) {
    while (m_maxPartial > 0) {
        std::uint64_t total = 0;
        Link* oldest = nullptr;
        for (const auto& link : m_links) {
            if (link->partialSince == 0 || link->core.partialBytes() == 0)
                continue;
            total += link->core.partialBytes();
            if (!oldest || link->partialSince < oldest->partialSince)
                oldest = link.get();
        }
        if (total <= m_maxPartial || !oldest)
            break;
        const quint64 id = oldest->id;
        raise(oldest, ErrorPartialCap,
              QStringLiteral("partial messages hold %1 bytes across connections, above the "
                             "cap of %2; this connection's started first (%3 bytes of it had arrived)")
                  .arg(total)
                  .arg(m_maxPartial)
                  .arg(oldest->core.partialBytes()));
        dropLink(id, false);
    }
    return find(reading) != nullptr;
}

void CVeltHsms::onSocketGone(quint64 id) {
    if (!find(id))
        return;
    readAvailable(id); // what arrived before the close still counts
    dropLink(id, false);
}

void CVeltHsms::dropLink(quint64 id, bool graceful) {
    Link* link = find(id);
    if (!link)
        return;
    if (link->announcePending) {
        announceConnection(id); // keep connect and disconnect events paired
        link = find(id);
        if (!link)
            return;
    }
    const bool wasNamed = sendTarget() == link;
    if (m_capture)
        capture(*link, false, nullptr, 0, true);
    const auto at = std::find_if(m_links.begin(), m_links.end(),
                                 [&](const auto& l) { return l.get() == link; });
    const std::unique_ptr<Link> gone = std::move(*at);
    m_links.erase(at);

    HsmsSocket* socket = gone->socket;
    socket->disconnect(this);
    if (graceful && socket->isOpen())
        socket->closeWhenSent(5000); // queued sends go out, a stuck socket is not kept long
    else
        socket->abortLater();
    Q_EMIT ConnectionChanged(gone->address, gone->port, false);
    updateState();
    Q_EMIT ClientsChanged();
    // What the program sends next goes to a host still there: the one that
    // spoke last.
    if (wasNamed && !m_links.empty()) {
        const auto next = std::max_element(m_links.begin(), m_links.end(),
                                           [](const auto& a, const auto& b) {
                                               return a->spokeAt < b->spokeAt;
                                           });
        m_peerAddress = (*next)->address;
        m_peerPort = (*next)->port;
        Q_EMIT PeerChanged(m_peerAddress, m_peerPort);
    }
}

void CVeltHsms::raise(const Link* link, short code, const QString& detail) {
    if (link)
        Q_EMIT ErrorOccurred(link->address, link->port, code, detail);
    else
        Q_EMIT ErrorOccurred(m_remoteAddress, m_remotePort, code, detail);
}

short CVeltHsms::failureCode(LinkEvent::Failure failure) {
    switch (failure) {
    case LinkEvent::Failure::T6:
        return ErrorT6;
    case LinkEvent::Failure::T7:
        return ErrorT7;
    case LinkEvent::Failure::T8:
        return ErrorT8;
    case LinkEvent::Failure::TooLong:
        break;
    }
    return ErrorTooLong;
}

// One timer for every link, due at the earliest of their deadlines.
void CVeltHsms::armTimer() {
    std::optional<std::int64_t> deadline;
    for (const auto& link : m_links)
        if (const auto d = link->core.nextDeadline(); d && (!deadline || *d < *deadline))
            deadline = d;
    // Restarting the timer on every frame costs more than the frame: a timer
    // already due no later than the new deadline stays, and one due earlier
    // than needed (or with nothing left to watch) finds nothing to do and
    // arms again from onTimer.
    if (!deadline)
        return;
    if (m_timer.isActive() && m_armedFor <= *deadline)
        return;
    m_armedFor = *deadline;
    const std::int64_t wait = *deadline - nowMs();
    m_timer.start(static_cast<int>(std::clamp<std::int64_t>(wait, 0, 24 * 3600 * 1000)));
}

void CVeltHsms::onTimer() {
    const std::int64_t now = nowMs();
    std::vector<quint64> ids;
    for (const auto& link : m_links)
        ids.push_back(link->id);
    for (const quint64 id : ids) {
        Link* link = find(id);
        if (!link)
            continue;
        link->core.advance(now);
        if (writeOutput(*link))
            deliver(id);
    }
    armTimer();
}

namespace {
// Plain lower- or upper-case digit pairs, what the program itself sends,
// decoded from the text as it stands into `out` after `at` bytes; false for
// anything else (blanks, bad digits, an odd count), which the general
// decoder then handles and words.
bool decodePlainHex(const QString& hex, std::vector<std::uint8_t>& out, std::size_t at) {
    const qsizetype n = hex.size();
    if (n % 2 != 0)
        return false;
    out.resize(at + static_cast<std::size_t>(n / 2));
    const char16_t* in = reinterpret_cast<const char16_t*>(hex.constData());
    std::uint8_t* dst = out.data() + at;
    for (qsizetype i = 0; i < n / 2; ++i) {
        const char16_t a = in[2 * i];
        const char16_t b = in[2 * i + 1];
        if ((a | b) > 0x7f)
            return false;
        const int hi = tovik::hexDigitValue(static_cast<char>(a));
        const int lo = tovik::hexDigitValue(static_cast<char>(b));
        if ((hi | lo) < 0)
            return false;
        dst[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}
} // namespace

void CVeltHsms::SendHex(const QString& hex) {
    // The message is decoded into one reused buffer.
    std::vector<std::uint8_t>& message = m_sendBuffer;
    if (!decodePlainHex(hex, message, 0)) {
        std::vector<std::uint8_t> decoded;
        std::string error;
        if (!tovik::fromHex(hex.toStdString(), decoded, &error)) {
            raise(sendTarget(), ErrorCannotSend,
                  QStringLiteral("bad hex text: ") + QString::fromStdString(error));
            return;
        }
        message = std::move(decoded);
    }
    sendBytes(message.data(), message.size());
    // A huge message does not keep its buffer.
    if (message.capacity() > kKeptSendCapacity)
        std::vector<std::uint8_t>().swap(message);
}

void CVeltHsms::SendMessage(const QByteArray& message) {
    sendBytes(reinterpret_cast<const std::uint8_t*>(message.constData()),
              static_cast<std::size_t>(message.size()));
}

void CVeltHsms::sendBytes(const std::uint8_t* message, std::size_t size) {
    Link* link = admit(size);
    if (!link || refusesMore(*link, size))
        return;
    link->core.send(message, size, nowMs());
    writeOutput(*link);
}

// The connection a message of `size` bytes goes to, or null (reported).
CVeltHsms::Link* CVeltHsms::admit(std::size_t size) {
    Link* link = sendTarget();
    if (size < kHeaderLength) {
        raise(link, ErrorCannotSend,
              QStringLiteral("message of %1 bytes is shorter than its header").arg(size));
        return nullptr;
    }
    if (size > m_maxLength) {
        raise(link, ErrorLonger,
              QStringLiteral("message of %1 bytes is longer than the maximum of %2")
                  .arg(size)
                  .arg(m_maxLength));
        return nullptr;
    }
    if (!link)
        raise(nullptr, ErrorCannotSend,
              m_links.empty() ? QStringLiteral("not connected")
                              : QStringLiteral("no connection with %1(%2)")
                                    .arg(m_remoteAddress)
                                    .arg(m_remotePort));
    return link;
}

void CVeltHsms::SendFaulty(const QByteArray& message, const WireFault& fault) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.constData());
    const auto size = static_cast<std::size_t>(message.size());
    Link* link = admit(size);
    if (!link)
        return;
    const quint64 id = link->id;
    switch (fault.kind) {
    case WireFault::Drop:
        return;
    case WireFault::Delay:
        QTimer::singleShot(fault.ms, this, [this, id, message] {
            if (Link* l = find(id); l && !refusesMore(*l, static_cast<std::size_t>(message.size()))) {
                l->core.send(reinterpret_cast<const std::uint8_t*>(message.constData()),
                             static_cast<std::size_t>(message.size()), nowMs());
                writeOutput(*l);
            }
        });
        return;
    case WireFault::Duplicate:
        sendBytes(bytes, size);
        sendBytes(bytes, size);
        return;
    case WireFault::Dribble: {
        if (!link->dribble.empty())
            break; // one dribble at a time: this one goes out whole
        writeOutput(*link); // what waits goes first, at full speed
        link->core.send(bytes, size, nowMs());
        link->dribble = link->core.takeOutput();
        link->slow = link->dribble.size();
        link->piece = std::max(1, fault.bytes);
        link->pauseMs = fault.ms;
        dribbleOn(id);
        return;
    }
    case WireFault::Truncate:
        link->core.sendTruncated(bytes, size);
        writeOutput(*link);
        closeSoon(id);
        return;
    case WireFault::Garbage:
        link->core.sendRaw(reinterpret_cast<const std::uint8_t*>(fault.garbage.constData()),
                           static_cast<std::size_t>(fault.garbage.size()));
        writeOutput(*link);
        closeSoon(id);
        return;
    case WireFault::CloseBefore:
        closeSoon(id);
        return;
    case WireFault::CloseAfter:
        sendBytes(bytes, size);
        closeSoon(id);
        return;
    }
    sendBytes(bytes, size);
}

// After the handler that decided it: the log of the message comes first.
void CVeltHsms::closeSoon(quint64 id) {
    QMetaObject::invokeMethod(this, [this, id] { dropLink(id, true); }, Qt::QueuedConnection);
}

// Writes the next piece of a dribbled frame, then waits for the next one.
void CVeltHsms::dribbleOn(quint64 id) {
    Link* link = find(id);
    if (!link || link->dribble.empty())
        return;
    const std::size_t n = link->slow == 0 ? link->dribble.size()
                                          : std::min(link->slow, static_cast<std::size_t>(link->piece));
    link->socket->write(link->dribble.data(), n);
    link->socket->flush();
    link->dribble.erase(link->dribble.begin(), link->dribble.begin() + static_cast<std::ptrdiff_t>(n));
    link->slow -= std::min(link->slow, n);
    if (link->slow == 0 && !link->dribble.empty()) {
        dribbleOn(id); // the rest at once
        return;
    }
    if (!link->dribble.empty())
        QTimer::singleShot(link->pauseMs, this, [this, id] { dribbleOn(id); });
}

bool CVeltHsms::refusesMore(Link& link, std::size_t size) {
    const qint64 waiting = link.socket->bytesToWrite();
    if (waiting + static_cast<qint64>(size) <= kMaxQueuedBytes)
        return false;
    raise(&link, ErrorCannotSend,
          QStringLiteral("the peer is not reading: %1 bytes wait to be sent").arg(waiting));
    return true;
}

// Moves what the link has to send onto its socket; false when the socket
// refused it (reported) or the link went while sending.
bool CVeltHsms::writeOutput(Link& link) {
    if (!link.core.hasOutput())
        return true;
    const std::vector<std::uint8_t> out = link.core.takeOutput();
    if (!link.dribble.empty()) {
        // Behind a dribbled frame: it waits for the frame to end.
        link.dribble.insert(link.dribble.end(), out.begin(), out.end());
        return true;
    }
    if (refusesMore(link, out.size() > 4 ? out.size() - 4 : 0))
        return false;
    HsmsSocket* socket = link.socket;
    if (!socket->write(out.data(), out.size())) {
        raise(&link, ErrorCannotSend, QStringLiteral("the socket refused the message: it is closed"));
        return false;
    }
    if (m_capture)
        capture(link, false, out.data(), out.size());
    const quint64 id = link.id;
    // Hand the bytes to the kernel now rather than on the next event-loop
    // pass: a request/reply exchange would otherwise wait one extra turn.
    // Replies sent from inside MessageReceived go out together afterwards.
    // The last message of a batch is relayed at once: its wait would only
    // add to a lone request's round trip.
    if (m_partner && m_partner->m_delivering && m_partner->m_moreToDeliver)
        m_flushHeld = true;
    else if (m_delivering != id)
        socket->flush();
    if (!find(id))
        return false;
    armTimer();
    updateState();
    return true;
}

void CVeltHsms::capture(const Link& link, bool received, const std::uint8_t* data, std::size_t size, bool closed) {
    const std::int64_t now = tovik::capture::PcapngWriter::nowMicros();
    if (closed)
        m_capture->tcpClosed(link.client, link.server, now);
    else
        m_capture->tcp(link.client, link.server, received == link.passive, data, size, now);
}

quint64 CVeltHsms::TargetLink() const {
    const Link* link = sendTarget();
    return link ? link->id : 0;
}

bool CVeltHsms::DisconnectLink(quint64 id) {
    if (!find(id))
        return false;
    dropLink(id, true);
    return true;
}

bool CVeltHsms::DisconnectClient(const QString& address, int port) {
    const QString wanted = normalisedAddress(address);
    for (const auto& link : m_links) {
        if (link->port == port && link->address == wanted) {
            dropLink(link->id, true);
            return true;
        }
    }
    return false;
}

QString CVeltHsms::ResolveAddress(const QString& host) {
    const QString text = host.trimmed();
    if (text.isEmpty())
        return {};
    QHostAddress literal;
    if (literal.setAddress(text))
        return addressText(literal);

    // Name lookups have no timeout of their own: run one on a helper thread and
    // stop waiting after the bound; the thread finishes on its own.
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        QString address;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name = text.toStdString()] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        QString found;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &list) == 0) {
            // Prefer IPv4: it is what the program shows and what peers expect.
            for (int pass = 0; pass < 2 && found.isEmpty(); ++pass)
                for (addrinfo* a = list; a && found.isEmpty(); a = a->ai_next)
                    if (pass == 1 || a->ai_family == AF_INET)
                        found = addressText(QHostAddress(a->ai_addr));
            freeaddrinfo(list);
        }
        std::lock_guard lock(lookup->mutex);
        lookup->address = found;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    lookup->done.wait_for(lock, std::chrono::milliseconds(m_connectTimeoutMs),
                          [&] { return lookup->finished; });
    return lookup->finished ? lookup->address : QString();
}
