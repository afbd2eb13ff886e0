#include "CVeltSecsI.h"

#include <QMetaMethod>
#include <QSerialPort>
#include <QTcpSocket>

#include <algorithm>

#include "hex.h"
#include "secsi_ports.h"

using namespace tovik::secsi;

CVeltSecsI::CVeltSecsI(QObject* parent) : QObject(parent), m_core(m_cfg) {
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CVeltSecsI::onTimer);
    connect(&m_retryTimer, &QTimer::timeout, this, &CVeltSecsI::retryOpen);
}

CVeltSecsI::~CVeltSecsI() {
    // No signals from a dying driver: just let go of the line.
    for (QIODevice* io : {m_io, m_attempt}) {
        if (io) {
            io->disconnect(this);
            io->close();
        }
    }
}

void CVeltSecsI::SetReconnectInterval(int ms) {
    m_reconnectMs = std::max(0, ms);
    if (m_reconnecting && m_reconnectMs == 0)
        SetPortOpen(false);
    else if (m_reconnecting)
        m_retryTimer.start(m_reconnectMs);
}

void CVeltSecsI::applyConfig() {
    m_core.setConfig(m_cfg);
    m_cfg = m_core.config();
}

void CVeltSecsI::SetMasterMode(bool master) {
    m_cfg.master = master;
    applyConfig();
}
void CVeltSecsI::SetRetryCount(short count) {
    m_cfg.retryCount = count;
    applyConfig();
}
void CVeltSecsI::SetT1Timeout(int ms) {
    m_cfg.t1Ms = ms;
    applyConfig();
}
void CVeltSecsI::SetT2Timeout(int ms) {
    m_cfg.t2Ms = ms;
    applyConfig();
}
void CVeltSecsI::SetT4Timeout(int ms) {
    m_cfg.t4Ms = ms;
    applyConfig();
}
void CVeltSecsI::SetDevice(int device) {
    m_cfg.device = static_cast<uint16_t>(device & 0x7fff);
    applyConfig();
}
void CVeltSecsI::SetMsecMode(bool msec) {
    m_cfg.msec = msec;
    applyConfig();
}

QStringList CVeltSecsI::SerialDevices() {
    QStringList list;
    for (const std::string& path : serialDevices())
        list << QString::fromStdString(path);
    return list;
}

QString CVeltSecsI::GetDeviceName() const {
    if (GetPortOpen())
        return m_openName;
    if (!m_devicePath.trimmed().isEmpty())
        return m_devicePath.trimmed();
    const QStringList devices = SerialDevices();
    return m_portIndex >= 0 && m_portIndex < devices.size() ? devices.at(m_portIndex) : QString();
}

bool CVeltSecsI::GetPortOpen() const {
    return m_io != nullptr || m_reconnecting;
}

void CVeltSecsI::SetPortOpen(bool open) {
    if (!open) {
        stopReconnecting();
        if (!m_io)
            return;
        closeLine();
        m_core.abort();
        pump();
        setStateText(QStringLiteral("Closed"));
        return;
    }
    if (GetPortOpen())
        return;

    QString path = m_devicePath.trimmed();
    if (path.isEmpty()) {
        const QStringList devices = SerialDevices();
        if (m_portIndex < 0 || m_portIndex >= devices.size()) {
            Q_EMIT ErrorOccurred(OpenFailed, QStringLiteral("no serial device for port index %1 (%2 found: %3)")
                                                 .arg(m_portIndex)
                                                 .arg(devices.size())
                                                 .arg(devices.join(QStringLiteral(", "))));
            return;
        }
        path = devices.at(m_portIndex);
    }
    QString why;
    QIODevice* io = path.startsWith(QStringLiteral("tcp:")) ? openTcp(path, why) : openSerial(path, why);
    if (!io) {
        Q_EMIT ErrorOccurred(OpenFailed, why);
        return;
    }
    attach(io, path);
}

QIODevice* CVeltSecsI::openSerial(const QString& path, QString& why) {
    auto* port = new QSerialPort(this);
    port->setPortName(path);
    if (!port->open(QIODevice::ReadWrite)) {
        why = QStringLiteral("cannot open %1: %2").arg(path, port->errorString());
        delete port;
        return nullptr;
    }
    if (!port->setBaudRate(m_baud) || !port->setDataBits(QSerialPort::Data8) ||
        !port->setParity(QSerialPort::NoParity) || !port->setStopBits(QSerialPort::OneStop) ||
        !port->setFlowControl(QSerialPort::NoFlowControl)) {
        why = QStringLiteral("cannot set %1 to %2 baud 8N1: %3").arg(path).arg(m_baud).arg(port->errorString());
        port->close();
        delete port;
        return nullptr;
    }
    return port;
}

QIODevice* CVeltSecsI::openTcp(const QString& path, QString& why) {
    const auto target = parseTcpTarget(path.toStdString());
    if (!target) {
        why = QStringLiteral("%1 is not tcp:HOST:PORT").arg(path);
        return nullptr;
    }
    auto* socket = new QTcpSocket(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->connectToHost(QString::fromStdString(target->host), target->port);
    // The caller reads PortOpen right after writing it, so the connect is
    // awaited here: up to T2, never more than 5 s.
    if (!socket->waitForConnected(std::clamp(m_cfg.t2Ms, 1000, 5000))) {
        why = QStringLiteral("cannot connect to %1: %2").arg(path, socket->errorString());
        delete socket;
        return nullptr;
    }
    return socket;
}

void CVeltSecsI::attach(QIODevice* device, const QString& path) {
    m_io = device;
    m_openName = path;
    connect(device, &QIODevice::readyRead, this, &CVeltSecsI::onReadyRead);
    // Each way of losing the line reports its own cause.
    if (auto* port = qobject_cast<QSerialPort*>(device)) {
        connect(port, &QSerialPort::errorOccurred, this, [this, port, path](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError || m_io != port)
                return;
            // A tty that hangs up (unplugged, its pty master gone) reads as
            // end of file or EIO: Qt says resource or read error.
            if (e == QSerialPort::ResourceError || e == QSerialPort::DeviceNotFoundError ||
                e == QSerialPort::ReadError)
                lineLost(DeviceRemoved, QStringLiteral("%1: device removed (%2)").arg(path, port->errorString()));
            else
                lineLost(LineFailed, QStringLiteral("%1: %2").arg(path, port->errorString()));
        });
    } else if (auto* socket = qobject_cast<QTcpSocket*>(device)) {
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, path] {
            if (m_io == socket)
                lineLost(PeerClosed, QStringLiteral("%1: connection closed by the peer").arg(path));
        });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket, path](QAbstractSocket::SocketError e) {
            if (m_io != socket)
                return;
            if (e == QAbstractSocket::RemoteHostClosedError)
                lineLost(PeerClosed, QStringLiteral("%1: connection closed by the peer").arg(path));
            else
                lineLost(LineFailed, QStringLiteral("%1: %2").arg(path, socket->errorString()));
        });
    }
    applyConfig();
    m_core.abort(); // a fresh line: nothing half-done from before
    m_core.takeEvents();
    setStateText(QString::fromLatin1(lineStateText(m_core.state())));
}

void CVeltSecsI::closeLine() {
    m_timer.stop();
    if (!m_io)
        return;
    QIODevice* io = m_io;
    m_io = nullptr;
    io->disconnect(this);
    io->close();
    io->deleteLater(); // may be inside one of its own signals
}

void CVeltSecsI::lineLost(short code, const QString& detail) {
    closeLine();
    m_core.abort();
    // Set before the report, so that a listener closing the port ends it.
    if (m_reconnectMs > 0) {
        m_reconnecting = true;
        m_retryTimer.start(m_reconnectMs);
    }
    Q_EMIT ErrorOccurred(code, detail);
    pump();
    if (!m_io)
        setStateText(QStringLiteral("Closed"));
}

void CVeltSecsI::retryOpen() {
    // An attempt still hanging after a whole interval gives way to a new one.
    dropAttempt();
    const QString path = m_openName;
    if (!path.startsWith(QStringLiteral("tcp:"))) {
        QString why;
        if (QIODevice* port = openSerial(path, why))
            lineRestored(port);
        return;
    }
    // Not awaited: a peer that does not answer must not stall the program.
    const auto target = parseTcpTarget(path.toStdString());
    if (!target)
        return;
    auto* socket = new QTcpSocket(this);
    m_attempt = socket;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        if (m_attempt != socket)
            return;
        m_attempt = nullptr;
        socket->disconnect(this);
        lineRestored(socket);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (m_attempt != socket)
            return;
        m_attempt = nullptr;
        socket->disconnect(this);
        socket->deleteLater();
    });
    socket->connectToHost(QString::fromStdString(target->host), target->port);
}

void CVeltSecsI::lineRestored(QIODevice* device) {
    const QString path = m_openName;
    stopReconnecting();
    attach(device, path);
    Q_EMIT LineRestored(path);
}

void CVeltSecsI::stopReconnecting() {
    m_reconnecting = false;
    m_retryTimer.stop();
    dropAttempt();
}

void CVeltSecsI::dropAttempt() {
    if (!m_attempt)
        return;
    m_attempt->disconnect(this);
    m_attempt->close();
    m_attempt->deleteLater();
    m_attempt = nullptr;
}

void CVeltSecsI::SendHex(const QString& hex) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!tovik::fromHex(hex.toStdString(), bytes, &why)) {
        Q_EMIT ErrorOccurred(InvalidLength, QStringLiteral("cannot send: %1").arg(QString::fromStdString(why)));
        Q_EMIT SendCompleted(hex, false);
        return;
    }
    sendBytes(std::move(bytes), hex);
}

void CVeltSecsI::SendMessage(const QByteArray& message, tovik::secsi::SendFault fault) {
    const auto* data = reinterpret_cast<const uint8_t*>(message.constData());
    std::vector<uint8_t> bytes(data, data + message.size());
    // SendCompleted names the message as hex text, as for SendHex.
    const QString hex = QString::fromLatin1(tovik::toHex(bytes));
    sendBytes(std::move(bytes), hex, fault);
}

void CVeltSecsI::sendBytes(std::vector<uint8_t> bytes, const QString& hex, tovik::secsi::SendFault fault) {
    if (!m_io) {
        Q_EMIT ErrorOccurred(LineFailed, m_reconnecting ? QStringLiteral("cannot send: %1 is down").arg(m_openName)
                                                        : QStringLiteral("cannot send: the port is not open"));
        Q_EMIT SendCompleted(hex, false);
        return;
    }
    const uint64_t id = m_core.send(std::move(bytes), now(), fault);
    m_pending.push_back(Pending{id, hex});
    pump();
}

void CVeltSecsI::onReadyRead() {
    if (!m_io)
        return;
    const QByteArray data = m_io->readAll();
    for (char c : data)
        Q_EMIT ByteTraced(static_cast<short>(static_cast<uint8_t>(c)), true);
    m_core.receive(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()), now());
    pump();
}

void CVeltSecsI::onTimer() {
    m_core.advance(now());
    pump();
}

void CVeltSecsI::pump() {
    // A handler may call SendHex; its work is picked up by the loop below.
    if (m_pumping) {
        m_pumpAgain = true;
        return;
    }
    m_pumping = true;
    do {
        m_pumpAgain = false;
        const std::vector<uint8_t> out = m_core.takeOutput();
        if (!out.empty() && m_io) {
            m_io->write(reinterpret_cast<const char*>(out.data()), static_cast<qint64>(out.size()));
            for (uint8_t b : out)
                Q_EMIT ByteTraced(static_cast<short>(b), false);
        }
        if (m_capture)
            for (const auto& block : m_core.takeBlocks())
                m_capture->secsBlock(block.received, block.bytes.data(), block.bytes.size(),
                                     tovik::capture::PcapngWriter::nowMicros());
        for (LineEvent& ev : m_core.takeEvents()) {
            switch (ev.kind) {
            case LineEvent::Kind::MessageReceived:
                // Each form is made only for those who listen to it.
                if (isSignalConnected(QMetaMethod::fromSignal(&CVeltSecsI::MessageArrived)))
                    Q_EMIT MessageArrived(QByteArray(reinterpret_cast<const char*>(ev.message.data()),
                                                     static_cast<qsizetype>(ev.message.size())));
                if (isSignalConnected(QMetaMethod::fromSignal(&CVeltSecsI::MessageReceived)))
                    Q_EMIT MessageReceived(QString::fromStdString(tovik::toHex(ev.message)));
                break;
            case LineEvent::Kind::SendCompleted: {
                const auto it = std::find_if(m_pending.begin(), m_pending.end(),
                                             [&](const Pending& p) { return p.id == ev.sendId; });
                if (it == m_pending.end())
                    break;
                const QString hex = it->hex;
                m_pending.erase(it);
                Q_EMIT SendCompleted(hex, ev.success);
                break;
            }
            case LineEvent::Kind::Error:
                Q_EMIT ErrorOccurred(ev.code, QString::fromStdString(ev.detail));
                break;
            case LineEvent::Kind::StateChanged:
                if (m_io)
                    setStateText(QString::fromLatin1(lineStateText(ev.state)));
                break;
            }
        }
    } while (m_pumpAgain);
    m_pumping = false;

    const auto due = m_core.nextDeadline();
    if (due && m_io)
        m_timer.start(static_cast<int>(std::max<tovik::secsi::Millis>(0, *due - now())));
    else
        m_timer.stop();
}

void CVeltSecsI::setStateText(const QString& text) {
    if (text == m_stateText)
        return;
    m_stateText = text;
    Q_EMIT StateChanged(text);
}
