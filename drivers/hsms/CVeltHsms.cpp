#include "CVeltHsms.h"

#include "hex.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>

using namespace tovik::hsms;

namespace {

// Bytes that may wait in the socket's send buffer before SendHex refuses more.
constexpr qint64 kMaxQueuedBytes = qint64{64} * 1024 * 1024;
constexpr std::size_t kReadChunk = 256 * 1024;
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

struct CVeltHsms::Link {
    quint64 id = 0;
    QTcpSocket* socket = nullptr;
    QTimer* timer = nullptr; // a child of the socket
    QString address;
    int port = 0;
    bool passive = false;
    bool announcePending = false;
    quint64 spokeAt = 0; // m_spoken when it last delivered a message
    std::int64_t armedFor = 0; // the deadline the timer runs for, while active
    FrameReader reader;
    Session session;
};

CVeltHsms::CVeltHsms(QObject* parent) : QObject(parent) {}

CVeltHsms::~CVeltHsms() {
    // No events from a half-destroyed driver.
    for (const auto& link : m_links) {
        link->socket->disconnect(this);
        link->timer->disconnect(this);
        link->socket->abort();
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

// T7 is the passive side's guard against a connection nobody selects; an
// active connection is the program's own and stays until it closes it.
Timeouts CVeltHsms::timeoutsFor(bool passive) const {
    Timeouts t = m_timeouts;
    if (!passive)
        t.t7Ms = 0;
    return t;
}

void CVeltHsms::applyTimeouts() {
    for (const auto& link : m_links) {
        link->session.setTimeouts(timeoutsFor(link->passive));
        armTimer(*link);
    }
}

void CVeltHsms::SetMaxMessageLength(std::uint32_t bytes) {
    m_maxLength = bytes < kHeaderLength ? static_cast<std::uint32_t>(kHeaderLength) : bytes;
    for (const auto& link : m_links)
        link->reader.setMaxLength(m_maxLength);
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
            return link->session.state() == LinkState::Selected;
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
        m_server = new QTcpServer(this);
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
    auto* socket = new QTcpSocket(this);
    socket->connectToHost(m_remoteAddress, static_cast<quint16>(m_remotePort));
    if (!socket->waitForConnected(m_connectTimeoutMs)) {
        socket->abort();
        delete socket;
        return;
    }
    Link* link = attach(socket);
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
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (static_cast<int>(m_links.size()) >= m_maxClients) {
            const QString address = addressText(socket->peerAddress());
            const int port = socket->peerPort();
            socket->abort();
            socket->deleteLater();
            Q_EMIT ClientRefused(address, port, m_maxClients);
            continue;
        }
        announceConnection(attach(socket)->id);
    }
}

CVeltHsms::Link* CVeltHsms::attach(QTcpSocket* socket) {
    auto owned = std::make_unique<Link>();
    Link* link = owned.get();
    link->id = ++m_nextId;
    link->socket = socket;
    link->passive = m_serverMode && m_server != nullptr;
    link->timer = new QTimer(socket);
    link->timer->setSingleShot(true);
    link->timer->setTimerType(Qt::PreciseTimer);
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    link->address = addressText(socket->peerAddress());
    link->port = socket->peerPort();
    link->reader.setMaxLength(m_maxLength);
    link->session.setTimeouts(timeoutsFor(link->passive));
    link->session.connected(nowMs());
    m_links.push_back(std::move(owned));

    const quint64 id = link->id;
    connect(link->timer, &QTimer::timeout, this, [this, id] { onTimer(id); });
    connect(socket, &QTcpSocket::readyRead, this, [this, id] { readAvailable(id); });
    connect(socket, &QTcpSocket::disconnected, this, [this, id] { onSocketGone(id); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, id, socket] {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            onSocketGone(id);
    });
    armTimer(*link);
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
    QTcpSocket* socket = link->socket;
    m_readBuffer.resize(kReadChunk);
    while (socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(reinterpret_cast<char*>(m_readBuffer.data()),
                                      static_cast<qint64>(m_readBuffer.size()));
        if (n <= 0)
            break;
        m_frames.clear();
        const auto error =
            link->reader.feed(m_readBuffer.data(), static_cast<std::size_t>(n), m_frames);
        // Everything that arrived whole before a fault is delivered first.
        auto frames = std::move(m_frames);
        m_frames = {};
        const QString address = link->address;
        const int port = link->port;
        const quint64 outer = m_delivering;
        m_delivering = id;
        for (const auto& frame : frames) {
            link->session.received(frame.data(), frame.size(), nowMs());
            if (link->session.ownLinktestReply(frame.data(), frame.size()))
                continue;
            link->spokeAt = ++m_spoken;
            // The speaker's text is made only when another link speaks, not
            // for every message.
            const bool newSpeaker = id != m_lastSpeakerId;
            if (newSpeaker) {
                m_lastSpeakerId = id;
                m_lastSpeaker = QStringLiteral("%1(%2)").arg(address).arg(port);
            }
            Q_EMIT MessageReceived(address, port, hexText(frame));
            link = find(id);
            if (!link) {
                m_delivering = outer;
                return;
            }
            if (newSpeaker)
                Q_EMIT ClientsChanged();
        }
        m_delivering = outer;
        if (!frames.empty())
            socket->flush();
        if (error) {
            raise(link, ErrorTooLong, QString::fromStdString(error->message));
            dropLink(id, false);
            return;
        }
    }
    link->session.bytesArrived(nowMs(), link->reader.midFrame());
    armTimer(*link);
    updateState();
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
    const auto at = std::find_if(m_links.begin(), m_links.end(),
                                 [&](const auto& l) { return l.get() == link; });
    const std::unique_ptr<Link> gone = std::move(*at);
    m_links.erase(at);

    QTcpSocket* socket = gone->socket;
    socket->disconnect(this);
    gone->timer->disconnect(this);
    gone->timer->stop();
    if (graceful && socket->state() == QAbstractSocket::ConnectedState) {
        // Let queued sends go out, but never keep a stuck socket for long.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(5000, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
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

void CVeltHsms::armTimer(Link& link) {
    const auto deadline = link.session.nextDeadline();
    // Restarting a timer on every frame costs more than the frame: a timer
    // already due no later than the new deadline stays, and one due earlier
    // than needed (or with nothing left to watch) finds nothing expired and
    // arms again from onTimer.
    if (!deadline)
        return;
    if (link.timer->isActive() && link.armedFor <= *deadline)
        return;
    link.armedFor = *deadline;
    const std::int64_t wait = *deadline - nowMs();
    link.timer->start(static_cast<int>(std::clamp<std::int64_t>(wait, 0, 24 * 3600 * 1000)));
}

void CVeltHsms::onTimer(quint64 id) {
    Link* link = find(id);
    if (!link)
        return;
    const std::int64_t now = nowMs();
    const auto expiry = link->session.expired(now);
    if (!expiry) {
        if (link->session.linktestDue(now))
            sendLinktest(*link);
        armTimer(*link);
        return;
    }
    const short code = expiry->kind == TimerKind::T7   ? ErrorT7
                       : expiry->kind == TimerKind::T6 ? ErrorT6
                                                       : ErrorT8;
    QString detail = QString::fromStdString(expiry->detail);
    if (expiry->kind == TimerKind::T8)
        detail += QStringLiteral(" (%1 bytes of it had arrived)").arg(link->reader.pendingBytes());
    raise(link, code, detail);
    dropLink(id, false);
}

// System bytes of the driver's own linktests: a range of their own, so a
// reply is never taken for one to the program's requests.
void CVeltHsms::sendLinktest(Link& link) {
    const std::uint32_t system = 0xfffe0000u | (m_linktests++ & 0xffffu);
    std::vector<std::uint8_t> frame = {0, 0, 0, 10, 0xff, 0xff, 0, 0, 0, kLinktestReq,
                                       static_cast<std::uint8_t>(system >> 24),
                                       static_cast<std::uint8_t>(system >> 16),
                                       static_cast<std::uint8_t>(system >> 8),
                                       static_cast<std::uint8_t>(system)};
    if (writeFrame(link, frame))
        link.session.linktestSent(system);
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
    // The frame is built in one reused buffer: four length bytes, then the
    // message decoded straight behind them.
    std::vector<std::uint8_t>& frame = m_sendBuffer;
    Link* link = sendTarget();
    if (!decodePlainHex(hex, frame, 4)) {
        std::vector<std::uint8_t> decoded;
        std::string error;
        if (!tovik::fromHex(hex.toStdString(), decoded, &error)) {
            raise(link, ErrorCannotSend,
                  QStringLiteral("bad hex text: ") + QString::fromStdString(error));
            return;
        }
        frame.assign(4, 0);
        frame.insert(frame.end(), decoded.begin(), decoded.end());
    }
    const std::size_t size = frame.size() - 4;
    if (size < kHeaderLength) {
        raise(link, ErrorCannotSend,
              QStringLiteral("message of %1 bytes is shorter than its header").arg(size));
        return;
    }
    if (size > m_maxLength) {
        raise(link, ErrorLonger,
              QStringLiteral("message of %1 bytes is longer than the maximum of %2")
                  .arg(size)
                  .arg(m_maxLength));
        return;
    }
    if (!link) {
        raise(nullptr, ErrorCannotSend,
              m_links.empty() ? QStringLiteral("not connected")
                              : QStringLiteral("no connection with %1(%2)")
                                    .arg(m_remoteAddress)
                                    .arg(m_remotePort));
        return;
    }
    const auto length = static_cast<std::uint32_t>(size);
    frame[0] = static_cast<std::uint8_t>(length >> 24);
    frame[1] = static_cast<std::uint8_t>(length >> 16);
    frame[2] = static_cast<std::uint8_t>(length >> 8);
    frame[3] = static_cast<std::uint8_t>(length);
    writeFrame(*link, frame);
    // A huge message does not keep its buffer.
    if (frame.capacity() > kKeptSendCapacity)
        std::vector<std::uint8_t>().swap(frame);
}

// Queues one framed message on the link's socket; false when it was refused
// (reported) or the link went while sending.
bool CVeltHsms::writeFrame(Link& link, std::vector<std::uint8_t>& frame) {
    QTcpSocket* socket = link.socket;
    const std::size_t size = frame.size() - 4;
    if (socket->bytesToWrite() + static_cast<qint64>(size) > kMaxQueuedBytes) {
        raise(&link, ErrorCannotSend, QStringLiteral("the peer is not reading: %1 bytes wait to be sent")
                                          .arg(socket->bytesToWrite()));
        return false;
    }
    const auto frameSize = static_cast<qint64>(frame.size());
    if (socket->write(reinterpret_cast<const char*>(frame.data()), frameSize) != frameSize) {
        raise(&link, ErrorCannotSend,
              QStringLiteral("the socket refused the message: %1").arg(socket->errorString()));
        return false;
    }
    // Noted before the flush: a failing flush reports at once, and whoever
    // hears of it may send again through this same buffer or drop the link.
    link.session.sent(frame.data() + 4, size, nowMs());
    const quint64 id = link.id;
    // Hand the bytes to the kernel now rather than on the next event-loop
    // pass: a request/reply exchange would otherwise wait one extra turn.
    // Replies sent from inside MessageReceived go out together afterwards.
    if (m_delivering != id)
        socket->flush();
    Link* still = find(id);
    if (!still)
        return false;
    armTimer(*still);
    updateState();
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
