#include "hsms_peer.h"

#include <netinet/tcp.h>
#include <poll.h>

#include <chrono>
#include <thread>

namespace hsmstest {

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Polls `fd` until it is readable or the deadline passes, running `idle`
// between short polls when there is one.
bool readable(int fd, std::int64_t deadline, const Idle& idle) {
    for (;;) {
        const std::int64_t left = deadline - nowMs();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, idle ? 1 : static_cast<int>(left)) > 0)
            return true;
        if (idle)
            idle();
    }
}

} // namespace

bool RawHost::connect(int port, int attempts) {
    close();
    for (int i = 0; i < attempts; ++i) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(port);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
            const int one = 1;
            ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            m_closed = false;
            return true;
        }
        ::close(m_fd);
        m_fd = -1;
        if (i + 1 < attempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void RawHost::adopt(int fd) {
    close();
    m_fd = fd;
    m_closed = false;
}

void RawHost::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_in.clear();
}

int RawHost::localPort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void RawHost::setReceiveBuffer(int bytes) {
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool RawHost::sendRaw(const Bytes& bytes) {
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

bool RawHost::pull(std::int64_t deadline) {
    if (m_closed || m_fd < 0 || !readable(m_fd, deadline, m_idle))
        return false;
    std::uint8_t buf[65536];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0) {
        m_closed = true;
        return false;
    }
    m_in.insert(m_in.end(), buf, buf + n);
    return true;
}

Bytes RawHost::recvRaw(std::size_t n, int ms) {
    const std::int64_t deadline = nowMs() + ms;
    while (m_in.size() < n && pull(deadline)) {
    }
    const auto take = static_cast<std::ptrdiff_t>(std::min(n, m_in.size()));
    Bytes out(m_in.begin(), m_in.begin() + take);
    m_in.erase(m_in.begin(), m_in.begin() + take);
    return out;
}

std::optional<std::string> RawHost::recv(int ms) {
    const std::int64_t deadline = nowMs() + ms;
    for (;;) {
        if (m_in.size() >= 4) {
            const std::size_t len = (std::size_t{m_in[0]} << 24) | (std::size_t{m_in[1]} << 16) |
                                    (std::size_t{m_in[2]} << 8) | m_in[3];
            if (m_in.size() >= 4 + len) {
                std::string hex = hexOf(m_in, 4, len);
                m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(4 + len));
                return hex;
            }
        }
        if (!pull(deadline))
            return std::nullopt;
    }
}

bool RawHost::waitClosed(int ms) {
    const std::int64_t deadline = nowMs() + ms;
    while (pull(deadline))
        m_in.clear();
    return m_closed;
}

RawListener::RawListener(int port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = loopback(port);
    ::bind(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 8);
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
}

RawListener::~RawListener() {
    ::close(m_fd);
}

int RawListener::accept(int ms, const Idle& idle) {
    return readable(m_fd, nowMs() + ms, idle) ? ::accept(m_fd, nullptr, nullptr) : -1;
}

} // namespace hsmstest
