#pragma once
// The SECS-I port driver: moves bytes between a serial line (or a TCP
// connection to a terminal server) and the line protocol core, and turns the
// core's events into signals. Everything runs on the owner's thread.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>

#include "pcapng.h"
#include "secsi_line.h"

class QIODevice;

class CVeltSecsI : public QObject {
    Q_OBJECT
public:
    explicit CVeltSecsI(QObject* parent = nullptr);
    ~CVeltSecsI() override;

    bool GetMasterMode() const { return m_cfg.master; }
    void SetMasterMode(bool master);
    short GetRetryCount() const { return static_cast<short>(m_cfg.retryCount); }
    void SetRetryCount(short count);
    int GetT1Timeout() const { return m_cfg.t1Ms; }
    void SetT1Timeout(int ms);
    int GetT2Timeout() const { return m_cfg.t2Ms; }
    void SetT2Timeout(int ms);
    // Kept for the settings round trip; reply supervision is the program's.
    int GetT3Timeout() const { return m_t3Ms; }
    void SetT3Timeout(int ms) { m_t3Ms = ms; }
    int GetT4Timeout() const { return m_cfg.t4Ms; }
    void SetT4Timeout(int ms);
    short GetPortIndex() const { return m_portIndex; }
    void SetPortIndex(short index) { m_portIndex = index; }
    int GetBaud() const { return m_baud; }
    void SetBaud(int baud) { m_baud = baud; }
    int GetDevice() const { return m_cfg.device; }
    void SetDevice(int device);
    bool GetMsecMode() const { return m_cfg.msec; }
    void SetMsecMode(bool msec);
    // A device path (pseudo-terminal, by-id link) or "tcp:HOST:PORT"; when not
    // empty it names the line and PortIndex is not used.
    QString GetDevicePath() const { return m_devicePath; }
    void SetDevicePath(const QString& path) { m_devicePath = path; }

    // After an open line is lost (the TCP peer closed, the serial device
    // vanished, a read or write failed) the driver tries to open it again
    // every `ms`, quietly, until it is back (LineRestored) or the port is
    // closed; meanwhile the port reads back open. 0: a lost line stays closed.
    int GetReconnectInterval() const { return m_reconnectMs; }
    void SetReconnectInterval(int ms);
    // Every block also goes to this capture (null: none); the caller keeps it alive.
    void SetCapture(tovik::capture::PcapngWriter* capture) {
        m_capture = capture;
        m_core.setKeepBlocks(capture != nullptr);
    }

    bool GetPortOpen() const;
    // Opening reads back true only when the line is usable; a failure raises
    // ErrorOccurred(OpenFailed) naming the device. Opening is one attempt:
    // only a line that was open is tried again.
    void SetPortOpen(bool open);

    void SendHex(const QString& hex);
    // The same for a message already in bytes; its SendCompleted carries its hex.
    // A fault, when given, spoils the first block on purpose (faults on demand).
    void SendMessage(const QByteArray& message, tovik::secsi::SendFault fault = {});
    // Asked on each ENQ and each good block from the peer (faults on demand).
    void SetReceiveFaultHook(tovik::secsi::ReceiveFaultHook hook) { m_core.setReceiveFaultHook(std::move(hook)); }

    // What the panel shows.
    QString GetDeviceName() const; // the line in use, or the one PortIndex/DevicePath names
    QString GetLineState() const { return m_stateText; }

    // The devices PortIndex counts through, index 0 first.
    static QStringList SerialDevices();

Q_SIGNALS:
    void MessageReceived(const QString& hex);
    // The same message as bytes, for the program's own use.
    void MessageArrived(const QByteArray& message);
    void SendCompleted(const QString& hex, bool success);
    void ErrorOccurred(short code, const QString& detail);
    // The line state: "Closed", "Idle", "Wait EOT", "Wait ACK", "Wait Length",
    // "Receiving", "Discarding", "Wait Block".
    void StateChanged(const QString& state);
    void ByteTraced(short character, bool received);
    // The line lost earlier is open again.
    void LineRestored(const QString& device);

private:
    void sendBytes(std::vector<uint8_t> bytes, const QString& hex, tovik::secsi::SendFault fault = {});
    void applyConfig();
    QIODevice* openSerial(const QString& path, QString& why);
    QIODevice* openTcp(const QString& path, QString& why);
    void attach(QIODevice* device, const QString& path);
    void closeLine();
    void lineLost(short code, const QString& detail);
    void retryOpen();
    void lineRestored(QIODevice* device);
    void stopReconnecting();
    void dropAttempt();
    void onReadyRead();
    void onTimer();
    void pump();
    void setStateText(const QString& text);
    tovik::secsi::Millis now() const { return m_clock.elapsed(); }

    tovik::secsi::LineConfig m_cfg;
    tovik::secsi::LineCore m_core;
    tovik::capture::PcapngWriter* m_capture = nullptr;
    int m_t3Ms = 45000;
    short m_portIndex = 0;
    int m_baud = 9600;
    QString m_devicePath;

    QIODevice* m_io = nullptr; // a child of this driver
    QString m_openName;        // the line open, or the one being reopened
    int m_reconnectMs = 0;
    bool m_reconnecting = false;
    QTimer m_retryTimer;
    QIODevice* m_attempt = nullptr; // a TCP connect under way while reconnecting
    QElapsedTimer m_clock;
    QTimer m_timer;
    struct Pending {
        uint64_t id;
        QString hex;
    };
    std::deque<Pending> m_pending; // texts as given, matched to the core's ids
    QString m_stateText = QStringLiteral("Closed");
    bool m_pumping = false;
    bool m_pumpAgain = false;
};
