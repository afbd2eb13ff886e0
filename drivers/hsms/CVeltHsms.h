#pragma once
// HSMS-SS port driver: one TCP connection, passive (listening) or active
// (connecting), carrying messages as lower-case hex text (10-byte header, then
// the body). The framing and the selected-state tracking live in the plain C++
// core (HsmsFrameReader, HsmsSession); this class only moves bytes between a
// socket and that core on the caller's thread, without blocking reads.
//
// Choices worth knowing:
// - Passive mode serves one client at a time. A second client that connects
//   while one is connected is closed at once; the first is not disturbed and no
//   event is raised for the refused one.
// - Active mode does not reconnect by itself (the program's Connect command
//   does), so the T5 code -6 is never raised.
// - The driver answers nothing: Select, Linktest and Separate are answered or
//   acted on by the program through SendHex. It watches them pass to know
//   whether the link is selected (T7) and which control requests await their
//   reply (T6).
// - T6, T7 and T8 expiries drop the connection after ErrorOccurred.
//
// ErrorOccurred codes:
//   -8 T7: connected but not selected within T7
//   -7 T6: a control request sent through SendHex got no reply within T6
//   -4 T8: a message stalled mid-way for longer than T8
//   -3 longer: SendHex was given a message longer than the maximum message
//      length; it is not sent and the link stays up
//   -2 too long: a received length field is below 10 or above the maximum
//      message length; the link is dropped without reading the body
//   -1 cannot send: not connected, bad hex text, a message shorter than its
//      header, or the socket refused the bytes
//   -6 T5 and -5 T3 are not raised by this driver (no reconnection, and reply
//      supervision belongs to the program).
#include "HsmsFrameReader.h"
#include "HsmsSession.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <vector>

class QTcpServer;
class QTcpSocket;

class CVeltHsms : public QObject {
    Q_OBJECT
public:
    enum State { Closed = 0, Listening = 1, Connected = 2, Selected = 3 };
    Q_ENUM(State)

    enum ErrorCode : short {
        ErrorT7 = -8,
        ErrorT6 = -7,
        ErrorT5 = -6,
        ErrorT3 = -5,
        ErrorT8 = -4,
        ErrorLonger = -3,
        ErrorTooLong = -2,
        ErrorCannotSend = -1,
    };

    explicit CVeltHsms(QObject* parent = nullptr);
    ~CVeltHsms() override;

    QString GetRemoteAddress() const { return m_remoteAddress; }
    void SetRemoteAddress(const QString& address);
    int GetRemotePort() const { return m_remotePort; }
    void SetRemotePort(int port);
    int GetT8Timeout() const { return m_timeouts.t8Ms; }
    void SetT8Timeout(int ms);
    int GetT7Timeout() const { return m_timeouts.t7Ms; }
    void SetT7Timeout(int ms);
    int GetT6Timeout() const { return m_timeouts.t6Ms; }
    void SetT6Timeout(int ms);
    int GetLocalPort() const { return m_localPort; }
    void SetLocalPort(int port);
    bool GetServerMode() const { return m_serverMode; }
    void SetServerMode(bool server);
    // Longest message (header and body) accepted in either direction; default 16 MiB.
    std::uint32_t GetMaxMessageLength() const { return m_maxLength; }
    void SetMaxMessageLength(std::uint32_t bytes);
    // Bound of the wait for an active connect and for ResolveAddress.
    int GetConnectTimeout() const { return m_connectTimeoutMs; }
    void SetConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    // True listens on LocalPort (passive) or connects to RemoteAddress/RemotePort
    // within the connect timeout (active); read back right after, true means it
    // worked. Writing true while open changes nothing. False closes.
    bool GetPortOpen() const;
    void SetPortOpen(bool open);

    // The port actually listened on (useful when LocalPort is 0), or 0.
    int GetListeningPort() const;
    State GetState() const;

    // Sends one message given as hex text (header then body) to the connected
    // peer; problems are reported through ErrorOccurred, no completion event.
    void SendHex(const QString& hex);
    // IP address text for a host name or address; empty when it cannot be
    // resolved within the connect timeout.
    QString ResolveAddress(const QString& host);
    // Drops the connected peer when it is at that address and port.
    bool DisconnectClient(const QString& address, int port);

Q_SIGNALS:
    void MessageReceived(const QString& address, int port, const QString& hex);
    void ErrorOccurred(const QString& address, int port, short code, const QString& detail);
    void ConnectionChanged(const QString& address, int port, bool connected);
    void PeerChanged(const QString& address, int port);
    void StateChanged(int state);

private:
    void onNewConnection();
    void attach(QTcpSocket* socket);
    void announceConnection();
    void readAvailable();
    void onSocketGone();
    void dropLink(bool graceful);
    void closeServer();
    void onTimer();
    void armTimer();
    void updateState();
    void applyTimeouts();
    void raise(short code, const QString& detail);

    QString m_remoteAddress;
    int m_remotePort = 5000;
    int m_localPort = 5000;
    bool m_serverMode = false;
    int m_connectTimeoutMs = 3000;
    std::uint32_t m_maxLength = tovik::hsms::kDefaultMaxMessageLength;
    tovik::hsms::Timeouts m_timeouts;

    QTcpServer* m_server = nullptr;
    QTcpSocket* m_socket = nullptr;
    quint64 m_link = 0; // changes whenever the connection goes, so handlers can tell
    bool m_announcePending = false;
    bool m_delivering = false; // inside MessageReceived: sends are flushed after it
    QString m_peerAddress;
    int m_peerPort = 0;
    QString m_lastPeerAddress;
    int m_lastPeerPort = -1;
    State m_state = Closed;

    tovik::hsms::FrameReader m_reader;
    tovik::hsms::Session m_session;
    QTimer m_timer;
    std::int64_t m_armedFor = 0; // the deadline m_timer runs for, while active
    std::vector<std::uint8_t> m_readBuffer;
    std::vector<std::vector<std::uint8_t>> m_frames;
    std::vector<std::uint8_t> m_sendBuffer; // decoded message of SendHex, reused
};
