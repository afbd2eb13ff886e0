#pragma once
// HSMS-SS port driver: TCP connections, passive (listening) or active
// (connecting), carrying messages as bytes inside the program and as
// lower-case hex text at its edge (10-byte header, then the body). Each
// connection's protocol (framing, link state, timers, linktest) is a plain C++
// LinkCore; this class keeps the sockets, the table of links and one timer
// for their earliest deadline, and only moves bytes between sockets and the
// cores on the caller's thread, without blocking reads.
//
// Choices worth knowing:
// - Passive mode serves up to MaxClients hosts at once (default 16). Each
//   connection has its own frame reader, link state, timers and send queue
//   (its socket's buffer), and every event names the connection's peer.
//   A newcomer beyond the limit is closed at once with ClientRefused; the
//   others are not disturbed.
// - SendHex goes to the connection whose peer RemoteAddress/RemotePort name
//   at the moment of the call, or to the only connection when there is one.
// - PeerChanged names a newcomer when nobody else is connected, and, when the
//   named connection goes while others stay, the one that spoke last.
// - Active mode does not reconnect by itself (the program's Connect command
//   does), so the T5 code -6 is never raised.
// - The driver answers nothing: Select, Linktest and Separate are answered or
//   acted on by the program through SendHex. It watches them pass to know
//   whether the link is selected (T7) and which control requests await their
//   reply (T6). Its only request of its own is the linktest of a selected
//   link that was silent for LinktestInterval (off by default); that request
//   and its reply are not delivered.
// - T7 watches only passive connections that were never selected. T6, T7 and
//   T8 expiries drop the connection after ErrorOccurred, and so does the cap
//   on partial messages; nothing else closes a link on the driver's own account.
// - A partial message's buffer grows with what has arrived. The bytes held in
//   partial messages across all connections are capped (MaxPartialBytes,
//   default 64 MiB): over it, the connection whose partial message started
//   first is dropped (-9), so stalled senders cannot pile up memory until T8.
//
// ErrorOccurred codes:
//   -9 partial: the partial messages of all connections held more than
//      MaxPartialBytes; the one whose partial message started first is dropped
//   -8 T7: a passive connection not selected within T7 of its start
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
#include "hsms_link.h"
#include "pcapng.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class HsmsSocket;

class CVeltHsms : public QObject {
    Q_OBJECT
public:
    enum State { Closed = 0, Listening = 1, Connected = 2, Selected = 3 };
    Q_ENUM(State)

    enum ErrorCode : short {
        ErrorPartialCap = -9,
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
    // Silence on a selected link before the driver sends its own
    // Linktest.req (whose reply is due within T6); 0 switches it off.
    int GetLinktestInterval() const { return m_timeouts.linktestMs; }
    void SetLinktestInterval(int ms);
    // Passive connections served at once; at least 1.
    int GetMaxClients() const { return m_maxClients; }
    void SetMaxClients(int count);
    int GetLocalPort() const { return m_localPort; }
    void SetLocalPort(int port);
    bool GetServerMode() const { return m_serverMode; }
    void SetServerMode(bool server);
    // Longest message (header and body) accepted in either direction; default 16 MiB.
    std::uint32_t GetMaxMessageLength() const { return m_maxLength; }
    void SetMaxMessageLength(std::uint32_t bytes);
    // Bytes all connections may hold in partial messages together; 0 no cap.
    std::uint64_t GetMaxPartialBytes() const { return m_maxPartial; }
    void SetMaxPartialBytes(std::uint64_t bytes) { m_maxPartial = bytes; }
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
    // Selected when some connection is, else Connected when there is one.
    State GetState() const;
    int GetClientCount() const { return static_cast<int>(m_links.size()); }
    // Address and port of each open connection's peer, oldest first.
    std::vector<std::pair<QString, int>> GetPeers() const;
    // The peer of the last message received, "address(port)", or empty.
    QString GetLastSpeaker() const { return m_lastSpeaker; }

    // Sends one message given as hex text (header then body) to the peer named
    // by RemoteAddress/RemotePort; problems are reported through
    // ErrorOccurred, no completion event.
    void SendHex(const QString& hex);
    // The same for a message already in bytes.
    void SendMessage(const QByteArray& message);
    // A message written wrongly on purpose (faults on demand), to the
    // connection SendMessage would use. Delayed and dribbled messages keep
    // their connection: one that goes meanwhile gets nothing. Truncate,
    // Garbage and the closes drop the connection once the bytes are out.
    struct WireFault {
        enum Kind { Delay, Drop, Duplicate, Dribble, Truncate, Garbage, CloseBefore, CloseAfter };
        Kind kind = Drop;
        int ms = 0;    // Delay; Dribble's pause between pieces
        int bytes = 1; // Dribble's piece
        QByteArray garbage;
    };
    void SendFaulty(const QByteArray& message, const WireFault& fault);
    // IP address text for a host name or address; empty when it cannot be
    // resolved within the connect timeout.
    QString ResolveAddress(const QString& host);
    // Drops the connection of the peer at that address and port; the others stay.
    bool DisconnectClient(const QString& address, int port);
    // A connection's own id, never reused: what SendHex would write to now
    // (0 for none). A close decided for one connection names it by this id,
    // so it closes that one whoever speaks meanwhile.
    quint64 TargetLink() const;
    bool HasLink(quint64 id) const { return find(id) != nullptr; }
    // Drops that connection after its queued sends; false when it is gone.
    bool DisconnectLink(quint64 id);
    // Every byte each connection reads and writes also goes to this capture
    // (null: none); the caller keeps it alive while the driver has it.
    void SetCapture(tovik::capture::PcapngWriter* capture) { m_capture = capture; }
    // Two drivers relaying each other's messages (both ways, until either
    // goes or null is set): what one is asked to send while the other hands
    // a batch of received messages to the program goes out when the batch
    // ends, in one write instead of one per message.
    void SetRelayPartner(CVeltHsms* partner);

Q_SIGNALS:
    void MessageReceived(const QString& address, int port, const QString& hex);
    // The same message as bytes, for the program's own use.
    void MessageArrived(const QString& address, int port, const QByteArray& message);
    void ErrorOccurred(const QString& address, int port, short code, const QString& detail);
    void ConnectionChanged(const QString& address, int port, bool connected);
    void PeerChanged(const QString& address, int port);
    void StateChanged(int state);
    // A passive connection closed at once because `limit` hosts are connected.
    void ClientRefused(const QString& address, int port, int limit);
    // The connection count or the last speaker changed (for the panel).
    void ClientsChanged();

private:
    struct Link;
    struct Listener;
    Link* find(quint64 id) const;
    Link* sendTarget() const;
    void onNewConnection();
    Link* attach(HsmsSocket* socket);
    void announceConnection(quint64 id);
    void readAvailable(quint64 id);
    bool deliver(quint64 id);
    void endDelivery(quint64 outer);
    void flushHeld();
    void emitMessage(const QString& address, int port, const std::vector<std::uint8_t>& message);
    bool enforcePartialCap(quint64 reading);
    void onSocketGone(quint64 id);
    void dropLink(quint64 id, bool graceful);
    void closeServer();
    void onTimer();
    void armTimer();
    void sendBytes(const std::uint8_t* message, std::size_t size);
    Link* admit(std::size_t size);
    void closeSoon(quint64 id);
    void dribbleOn(quint64 id);
    bool refusesMore(Link& link, std::size_t size);
    bool writeOutput(Link& link);
    void updateState();
    void applyTimeouts();
    tovik::hsms::LinkConfig configFor(bool passive) const;
    static short failureCode(tovik::hsms::LinkEvent::Failure failure);
    void raise(const Link* link, short code, const QString& detail);
    void capture(const Link& link, bool received, const std::uint8_t* data, std::size_t size, bool closed = false);

    QString m_remoteAddress;
    int m_remotePort = 5000;
    int m_localPort = 5000;
    bool m_serverMode = false;
    int m_connectTimeoutMs = 3000;
    std::uint32_t m_maxLength = tovik::hsms::kDefaultMaxMessageLength;
    std::uint64_t m_maxPartial = std::uint64_t{64} * 1024 * 1024;
    quint64 m_partialStarts = 0; // orders partial messages by their start
    tovik::hsms::Timeouts m_timeouts;

    int m_maxClients = 16;

    tovik::capture::PcapngWriter* m_capture = nullptr;
    Listener* m_server = nullptr;
    // Open connections; a link's id is never reused, so a handler that
    // raised an event looks its link up again to learn whether it survived.
    std::vector<std::unique_ptr<Link>> m_links;
    quint64 m_nextId = 0;
    quint64 m_delivering = 0; // link inside MessageReceived: its sends are flushed after it
    CVeltHsms* m_partner = nullptr;
    bool m_flushHeld = false;     // sends wait for the partner's batch to end
    bool m_moreToDeliver = false; // the message being delivered is not the batch's last
    quint64 m_spoken = 0;     // counts received messages, to know who spoke last
    QTimer m_timer;           // due at the earliest deadline of any link
    std::int64_t m_armedFor = 0;
    quint64 m_lastSpeakerId = 0;
    QString m_lastSpeaker;
    QString m_peerAddress; // the last peer PeerChanged named
    int m_peerPort = -1;
    State m_state = Closed;

    std::vector<std::uint8_t> m_readBuffer;
    std::vector<std::uint8_t> m_sendBuffer; // decoded message of SendHex, reused
};
