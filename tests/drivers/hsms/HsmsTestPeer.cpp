#include "HsmsTestPeer.h"

#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hsmstest {

void ensureApp() {
    static int argc = 1;
    static char name[] = "hsms_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

bool pumpUntil(const std::function<bool()>& done, int boundMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

void pumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pumpUntil([&] { return std::chrono::steady_clock::now() > end; }, ms + 1000);
}

namespace {
sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
} // namespace

RawPeer::~RawPeer() {
    close();
}

bool RawPeer::connectTo(int port) {
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        close();
        return false;
    }
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

int RawPeer::localPort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void RawPeer::setReceiveBuffer(int bytes) {
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void RawPeer::send(const Bytes& bytes) {
    // Small scripted writes: the socket buffer always takes them whole.
    ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

// Takes in what is there; false once the driver closed the connection.
bool RawPeer::pull() {
    std::uint8_t buf[65536];
    const ssize_t got = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
    if (got > 0)
        m_pending.insert(m_pending.end(), buf, buf + got);
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

Bytes RawPeer::receive(std::size_t n) {
    pumpUntil([&] { return !pull() || m_pending.size() >= n; });
    const auto take = static_cast<std::ptrdiff_t>(std::min(n, m_pending.size()));
    Bytes out(m_pending.begin(), m_pending.begin() + take);
    m_pending.erase(m_pending.begin(), m_pending.begin() + take);
    return out;
}

bool RawPeer::waitClosed() {
    return pumpUntil([&] { return !pull(); });
}

void RawPeer::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pending.clear();
}

RawListener::RawListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(0);
    ::bind(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 8);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &len);
    m_port = ntohs(bound.sin_port);
}

RawListener::~RawListener() {
    ::close(m_fd);
}

bool RawListener::accept(RawPeer& peer) {
    int fd = -1;
    pumpUntil([&] {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1)
            fd = ::accept(m_fd, nullptr, nullptr);
        return fd >= 0;
    });
    if (fd < 0)
        return false;
    peer.adopt(fd);
    return true;
}

Recorder::Recorder(CVeltHsms& driver) {
    QObject::connect(&driver, &CVeltHsms::PeerChanged, [this](const QString& a, int p) {
        events << QStringLiteral("peer %1 %2").arg(a).arg(p);
    });
    QObject::connect(&driver, &CVeltHsms::ConnectionChanged,
                     [this](const QString& a, int p, bool c) {
                         events << QStringLiteral("conn %1 %2 %3").arg(a).arg(p).arg(int(c));
                     });
    QObject::connect(&driver, &CVeltHsms::MessageReceived,
                     [this](const QString& a, int p, const QString& hex) {
                         events << QStringLiteral("recv %1 %2 %3").arg(a).arg(p).arg(hex);
                     });
    QObject::connect(
        &driver, &CVeltHsms::ErrorOccurred,
        [this](const QString& a, int p, short code, const QString& detail) {
            events << QStringLiteral("error %1 %2 %3 %4").arg(a).arg(p).arg(code).arg(detail);
        });
    QObject::connect(&driver, &CVeltHsms::ClientRefused, [this](const QString& a, int p, int limit) {
        events << QStringLiteral("refused %1 %2 %3").arg(a).arg(p).arg(limit);
    });
}

int Recorder::count(const QString& prefix) const {
    int n = 0;
    for (const QString& e : events)
        n += e.startsWith(prefix) ? 1 : 0;
    return n;
}

} // namespace hsmstest
