#pragma once
// One TCP connection of the HSMS driver, on its own descriptor. A relayed
// message costs a handful of system calls, so the ones a QTcpSocket adds are
// left out: a read goes straight from the kernel into the caller's buffer
// (no size query first, no copy through a buffer of the socket's own), and
// what is written is gathered until flush() hands it to the kernel in one
// call, the rest waiting until the socket takes more.
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class HsmsSocket : public QObject {
    Q_OBJECT
public:
    // Takes over a connected descriptor; it is made non-blocking here.
    explicit HsmsSocket(int fd, QObject* parent = nullptr);
    ~HsmsSocket() override; // closes at once

    // A connected descriptor for address:port (an IP address), or -1 when
    // the connection is refused or not made within timeoutMs.
    static int connectTo(const QHostAddress& address, int port, int timeoutMs);

    QHostAddress peerAddress() const { return m_peer; }
    quint16 peerPort() const { return m_peerPort; }
    QHostAddress localAddress() const { return m_local; }
    quint16 localPort() const { return m_localPort; }
    // Connected and not closing.
    bool isOpen() const { return m_fd >= 0 && !m_closing; }

    // Reads what is waiting, up to `size` bytes: the count, 0 when nothing
    // waits, -1 when the peer closed or the connection failed.
    std::int64_t read(std::uint8_t* buffer, std::size_t size);
    // Queues bytes for the next flush; false when the socket is closed.
    bool write(const std::uint8_t* data, std::size_t size);
    // Hands what is queued to the kernel; what it does not take yet goes
    // when the socket can take more. A failed connection emits gone() and
    // gives false.
    bool flush();
    // Bytes queued and not yet taken by the kernel.
    std::int64_t bytesToWrite() const { return static_cast<std::int64_t>(m_out.size() - m_outAt); }

    // Closes once what is queued is sent (or after waitMs at most) and
    // deletes itself; nothing is read meanwhile.
    void closeWhenSent(int waitMs);
    // Closes at once; the object is deleted later.
    void abortLater();

Q_SIGNALS:
    // Bytes (or the peer's close) wait to be read.
    void readyRead();
    // The connection failed while sending.
    void gone();

private:
    void onWritable();
    void closeNow();

    int m_fd = -1;
    bool m_closing = false;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    std::vector<std::uint8_t> m_out;
    std::size_t m_outAt = 0; // bytes of m_out the kernel has taken
    QHostAddress m_peer, m_local;
    quint16 m_peerPort = 0, m_localPort = 0;
};
