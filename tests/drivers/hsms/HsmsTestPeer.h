#pragma once
// Test helpers: a scripted raw-socket peer (plain POSIX sockets, so it shares
// no code with the driver), an event recorder, and an event-loop pump.
#include "CVeltHsms.h"
#include "frames.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hsmstest {

// Runs the Qt event loop until `done` holds or a generous bound passes.
bool pumpUntil(const std::function<bool()>& done, int boundMs = 10000);
// Runs the event loop for a short while (lets stray events arrive).
void pumpFor(int ms);
void ensureApp();

class RawPeer {
public:
    RawPeer() = default;
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool connectTo(int port);
    void adopt(int fd) { m_fd = fd; }
    int localPort() const;
    void send(const Bytes& bytes);
    // Pumps the event loop until `n` bytes came in (or the peer closed).
    Bytes receive(std::size_t n);
    // Pumps the event loop until the driver closed the connection.
    bool waitClosed();
    void close();
    void setReceiveBuffer(int bytes);

private:
    bool pull();
    int m_fd = -1;
    Bytes m_pending;
};

class RawListener {
public:
    RawListener();
    ~RawListener();
    int port() const { return m_port; }
    // Accepts one pending connection, pumping the event loop meanwhile.
    bool accept(RawPeer& peer);

private:
    int m_fd = -1;
    int m_port = 0;
};

// Every driver event as one line: "peer a p", "conn a p 1", "recv a p hex",
// "error a p code detail", "refused a p limit".
class Recorder {
public:
    explicit Recorder(CVeltHsms& driver);
    QStringList events;
    int count(const QString& prefix) const;
};

} // namespace hsmstest
