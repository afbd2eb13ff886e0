#include "HsmsSocket.h"

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Queued bytes kept as storage after they are sent; a huge message gives its memory back.
constexpr std::size_t kKeptOutCapacity = 256 * 1024;

void endpointOf(const sockaddr_storage& ss, QHostAddress& address, quint16& port) {
    address = QHostAddress(reinterpret_cast<const sockaddr*>(&ss));
    if (ss.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in&>(ss).sin_port);
    else if (ss.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6&>(ss).sin6_port);
}

} // namespace

HsmsSocket::HsmsSocket(int fd, QObject* parent) : QObject(parent), m_fd(fd) {
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0)
        endpointOf(ss, m_peer, m_peerPort);
    len = sizeof ss;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0)
        endpointOf(ss, m_local, m_localPort);
    m_readable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &HsmsSocket::readyRead);
    m_writable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &HsmsSocket::onWritable);
}

HsmsSocket::~HsmsSocket() { closeNow(); }

int HsmsSocket::connectTo(const QHostAddress& address, int port, int timeoutMs) {
    sockaddr_storage ss{};
    socklen_t len = 0;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        auto& in = reinterpret_cast<sockaddr_in&>(ss);
        in.sin_family = AF_INET;
        in.sin_port = htons(static_cast<quint16>(port));
        in.sin_addr.s_addr = htonl(v4);
        len = sizeof in;
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(ss);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(static_cast<quint16>(port));
        const Q_IPV6ADDR a = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, a.c, sizeof a.c);
        in6.sin6_scope_id = address.scopeId().toUInt();
        len = sizeof in6;
    } else {
        return -1;
    }
    const int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&ss), len) == 0)
        return fd;
    if (errno == EINPROGRESS) {
        using clock = std::chrono::steady_clock;
        const auto deadline = clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
            if (r < 0 && errno == EINTR)
                continue;
            int error = 0;
            socklen_t size = sizeof error;
            if (r == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
                return fd;
            break;
        }
    }
    ::close(fd);
    return -1;
}

std::int64_t HsmsSocket::read(std::uint8_t* buffer, std::size_t size) {
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size);
        if (n > 0)
            return n;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        // The peer closed, or the connection failed: nothing more to read,
        // and a notifier on a finished socket would fire without end.
        m_readable->setEnabled(false);
        return -1;
    }
}

bool HsmsSocket::write(const std::uint8_t* data, std::size_t size) {
    if (!isOpen())
        return false;
    m_out.insert(m_out.end(), data, data + size);
    return true;
}

bool HsmsSocket::flush() {
    while (m_fd >= 0 && m_outAt < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.data() + m_outAt, m_out.size() - m_outAt, MSG_NOSIGNAL);
        if (n > 0) {
            m_outAt += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The rest goes when the kernel takes more; what was sent is dropped
            // from the front only when that is cheap.
            if (m_outAt > m_out.size() / 2) {
                m_out.erase(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(m_outAt));
                m_outAt = 0;
            }
            m_writable->setEnabled(true);
            return true;
        }
        closeNow();
        if (m_closing)
            deleteLater(); // nobody listens any more
        else
            Q_EMIT gone();
        return false;
    }
    m_out.clear();
    m_outAt = 0;
    if (m_out.capacity() > kKeptOutCapacity)
        std::vector<std::uint8_t>().swap(m_out);
    if (m_writable)
        m_writable->setEnabled(false);
    if (m_closing) {
        closeNow();
        deleteLater();
    }
    return true;
}

void HsmsSocket::onWritable() {
    flush();
}

void HsmsSocket::closeWhenSent(int waitMs) {
    if (m_closing)
        return;
    m_closing = true;
    if (m_readable)
        m_readable->setEnabled(false);
    if (!flush() || m_fd < 0)
        return; // all sent (or failed): closed, and deleted later
    // Never keep a stuck socket for long.
    QTimer::singleShot(waitMs, this, [this] {
        closeNow();
        deleteLater();
    });
}

void HsmsSocket::abortLater() {
    closeNow();
    deleteLater();
}

void HsmsSocket::closeNow() {
    // The notifiers go before the descriptor they watch.
    m_readable.reset();
    m_writable.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
