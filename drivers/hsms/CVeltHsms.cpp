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

CVeltHsms::CVeltHsms(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CVeltHsms::onTimer);
    m_session.setTimeouts(m_timeouts);
}

CVeltHsms::~CVeltHsms() {
    // No events from a half-destroyed driver.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
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

void CVeltHsms::applyTimeouts() {
    m_session.setTimeouts(m_timeouts);
}

void CVeltHsms::SetMaxMessageLength(std::uint32_t bytes) {
    m_maxLength = bytes < kHeaderLength ? static_cast<std::uint32_t>(kHeaderLength) : bytes;
    m_reader.setMaxLength(m_maxLength);
}

// What is actually open, not the mode setting, which may have been written since.
bool CVeltHsms::GetPortOpen() const {
    if (m_server)
        return m_server->isListening();
    return m_socket != nullptr;
}

int CVeltHsms::GetListeningPort() const {
    return m_server && m_server->isListening() ? m_server->serverPort() : 0;
}

CVeltHsms::State CVeltHsms::GetState() const {
    if (m_socket)
        return m_session.state() == LinkState::Selected ? Selected : Connected;
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

void CVeltHsms::SetPortOpen(bool open) {
    if (!open) {
        if (m_socket)
            dropLink(true);
        closeServer();
        updateState();
        return;
    }
    if (m_server || m_socket)
        return; // already open (or serving a client): leave it undisturbed
    if (m_serverMode) {
        m_server = new QTcpServer(this);
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
    attach(socket);
    // The program reads PortOpen back before it hears of the connection, so
    // the events follow once control returns to the event loop.
    m_announcePending = true;
    QMetaObject::invokeMethod(
        this,
        [this, link = m_link] {
            if (link == m_link && m_announcePending)
                announceConnection();
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
        if (m_socket) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        attach(socket);
        announceConnection();
    }
}

void CVeltHsms::attach(QTcpSocket* socket) {
    m_socket = socket;
    ++m_link;
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_peerAddress = addressText(socket->peerAddress());
    m_peerPort = socket->peerPort();
    m_reader.reset();
    m_reader.setMaxLength(m_maxLength);
    m_session.connected(nowMs());
    connect(socket, &QTcpSocket::readyRead, this, &CVeltHsms::readAvailable);
    connect(socket, &QTcpSocket::disconnected, this, &CVeltHsms::onSocketGone);
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (socket == m_socket && socket->state() == QAbstractSocket::UnconnectedState)
            onSocketGone();
    });
    armTimer();
}

void CVeltHsms::announceConnection() {
    m_announcePending = false;
    const quint64 link = m_link;
    if (m_peerAddress != m_lastPeerAddress || m_peerPort != m_lastPeerPort) {
        m_lastPeerAddress = m_peerAddress;
        m_lastPeerPort = m_peerPort;
        Q_EMIT PeerChanged(m_peerAddress, m_peerPort);
        if (link != m_link)
            return;
    }
    Q_EMIT ConnectionChanged(m_peerAddress, m_peerPort, true);
    if (link == m_link)
        updateState();
}

void CVeltHsms::readAvailable() {
    if (!m_socket)
        return;
    if (m_announcePending)
        announceConnection();
    const quint64 link = m_link;
    QTcpSocket* socket = m_socket;
    if (!socket || link != m_link)
        return;
    m_readBuffer.resize(kReadChunk);
    while (socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(reinterpret_cast<char*>(m_readBuffer.data()),
                                      static_cast<qint64>(m_readBuffer.size()));
        if (n <= 0)
            break;
        m_frames.clear();
        const auto error =
            m_reader.feed(m_readBuffer.data(), static_cast<std::size_t>(n), m_frames);
        // Everything that arrived whole before a fault is delivered first.
        auto frames = std::move(m_frames);
        m_frames = {};
        m_delivering = true;
        for (const auto& frame : frames) {
            m_session.received(frame.data(), frame.size(), nowMs());
            Q_EMIT MessageReceived(m_peerAddress, m_peerPort, hexText(frame));
            if (link != m_link) {
                m_delivering = false;
                return;
            }
        }
        m_delivering = false;
        if (!frames.empty())
            socket->flush();
        if (error) {
            raise(ErrorTooLong, QString::fromStdString(error->message));
            if (link == m_link)
                dropLink(false);
            return;
        }
    }
    m_session.bytesArrived(nowMs(), m_reader.midFrame());
    armTimer();
    updateState();
}

void CVeltHsms::onSocketGone() {
    if (!m_socket)
        return;
    const quint64 link = m_link;
    readAvailable(); // what arrived before the close still counts
    if (link == m_link && m_socket)
        dropLink(false);
}

void CVeltHsms::dropLink(bool graceful) {
    QTcpSocket* socket = m_socket;
    if (!socket)
        return;
    if (m_announcePending)
        announceConnection(); // keep connect and disconnect events paired
    if (socket != m_socket)
        return;
    m_socket = nullptr;
    ++m_link;
    socket->disconnect(this);
    m_session.disconnected();
    m_reader.reset();
    m_timer.stop();
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
    Q_EMIT ConnectionChanged(m_peerAddress, m_peerPort, false);
    updateState();
}

void CVeltHsms::raise(short code, const QString& detail) {
    if (m_socket)
        Q_EMIT ErrorOccurred(m_peerAddress, m_peerPort, code, detail);
    else
        Q_EMIT ErrorOccurred(m_remoteAddress, m_remotePort, code, detail);
}

void CVeltHsms::armTimer() {
    const auto deadline = m_session.nextDeadline();
    if (!m_socket) {
        m_timer.stop();
        return;
    }
    // Restarting a timer on every frame costs more than the frame: a timer
    // already due no later than the new deadline stays, and one due earlier
    // than needed (or with nothing left to watch) finds nothing expired and
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
    if (!m_socket)
        return;
    const auto expiry = m_session.expired(nowMs());
    if (!expiry) {
        armTimer();
        return;
    }
    const short code = expiry->kind == TimerKind::T7   ? ErrorT7
                       : expiry->kind == TimerKind::T6 ? ErrorT6
                                                       : ErrorT8;
    QString detail = QString::fromStdString(expiry->detail);
    if (expiry->kind == TimerKind::T8)
        detail += QStringLiteral(" (%1 bytes of it had arrived)").arg(m_reader.pendingBytes());
    const quint64 link = m_link;
    raise(code, detail);
    if (link == m_link)
        dropLink(false);
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
    if (!decodePlainHex(hex, frame, 4)) {
        std::vector<std::uint8_t> decoded;
        std::string error;
        if (!tovik::fromHex(hex.toStdString(), decoded, &error)) {
            raise(ErrorCannotSend, QStringLiteral("bad hex text: ") + QString::fromStdString(error));
            return;
        }
        frame.assign(4, 0);
        frame.insert(frame.end(), decoded.begin(), decoded.end());
    }
    const std::size_t size = frame.size() - 4;
    if (size < kHeaderLength) {
        raise(ErrorCannotSend,
              QStringLiteral("message of %1 bytes is shorter than its header").arg(size));
        return;
    }
    if (size > m_maxLength) {
        raise(ErrorLonger, QStringLiteral("message of %1 bytes is longer than the maximum of %2")
                               .arg(size)
                               .arg(m_maxLength));
        return;
    }
    if (!m_socket) {
        raise(ErrorCannotSend, QStringLiteral("not connected"));
        return;
    }
    if (m_socket->bytesToWrite() + static_cast<qint64>(size) > kMaxQueuedBytes) {
        raise(ErrorCannotSend, QStringLiteral("the peer is not reading: %1 bytes wait to be sent")
                                   .arg(m_socket->bytesToWrite()));
        return;
    }
    const auto length = static_cast<std::uint32_t>(size);
    frame[0] = static_cast<std::uint8_t>(length >> 24);
    frame[1] = static_cast<std::uint8_t>(length >> 16);
    frame[2] = static_cast<std::uint8_t>(length >> 8);
    frame[3] = static_cast<std::uint8_t>(length);
    const auto frameSize = static_cast<qint64>(frame.size());
    if (m_socket->write(reinterpret_cast<const char*>(frame.data()), frameSize) != frameSize) {
        raise(ErrorCannotSend,
              QStringLiteral("the socket refused the message: %1").arg(m_socket->errorString()));
        return;
    }
    // Noted before the flush: a failing flush reports at once, and whoever
    // hears of it may send again through this same buffer.
    m_session.sent(frame.data() + 4, size, nowMs());
    // Hand the bytes to the kernel now rather than on the next event-loop
    // pass: a request/reply exchange would otherwise wait one extra turn.
    // Replies sent from inside MessageReceived go out together afterwards.
    if (!m_delivering)
        m_socket->flush();
    armTimer();
    updateState();
    // A huge message does not keep its buffer.
    if (frame.capacity() > kKeptSendCapacity)
        std::vector<std::uint8_t>().swap(frame);
}

bool CVeltHsms::DisconnectClient(const QString& address, int port) {
    if (!m_socket || port != m_peerPort || normalisedAddress(address) != m_peerAddress)
        return false;
    dropLink(true);
    return true;
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
