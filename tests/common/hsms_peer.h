#pragma once
// A raw HSMS peer for the tests on plain POSIX sockets, so it shares no code
// with the driver: a host that connects, and a listener for the driver's
// active side. `idle` runs while they wait, so a driver in the same process
// keeps working; without it they block.
#include "frames.h"

#include <functional>
#include <optional>
#include <string>

namespace hsmstest {

using Idle = std::function<void()>;

class RawHost {
public:
    explicit RawHost(Idle idle = {}) : m_idle(std::move(idle)) {}
    ~RawHost() { close(); }
    RawHost(const RawHost&) = delete;
    RawHost& operator=(const RawHost&) = delete;

    // Retries while the listener is not there yet.
    bool connect(int port, int attempts = 300);
    void adopt(int fd);
    void close();
    int fd() const { return m_fd; }
    int localPort() const;
    bool closed() const { return m_closed; }
    void setReceiveBuffer(int bytes);

    bool sendRaw(const Bytes& bytes);
    // Length field, then the header and body given as hex.
    bool send(const std::string& headerHex, const std::string& bodyHex = {}) {
        return sendRaw(framed(headerHex + bodyHex));
    }
    // The next n bytes as they came; fewer when the peer closed or ms passed.
    Bytes recvRaw(std::size_t n, int ms = 10000);
    // The next whole message (header and body) as hex; nothing on timeout or
    // when the peer closed.
    std::optional<std::string> recv(int ms = 5000);
    // True when the peer closes the connection within ms.
    bool waitClosed(int ms = 10000);

private:
    // Waits for more bytes until the deadline; false on timeout or close.
    bool pull(std::int64_t deadlineMs);

    Idle m_idle;
    int m_fd = -1;
    bool m_closed = false;
    Bytes m_in;
};

class RawListener {
public:
    // On `port` (0: any free one), taken again at once after a listener closed.
    explicit RawListener(int port = 0);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;
    int port() const { return m_port; }
    // The accepted connection; -1 when nobody came within ms.
    int accept(int ms = 10000, const Idle& idle = {});

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace hsmstest
