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
}

CVeltSecsI::~CVeltSecsI() {
    // No signals from a dying driver: just let go of the line.
    if (m_io) {
        m_io->disconnect(this);
        m_io->close();
    }
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
    if (m_io)
        return m_openName;
    if (!m_devicePath.trimmed().isEmpty())
        return m_devicePath.trimmed();
    const QStringList devices = SerialDevices();
    return m_portIndex >= 0 && m_portIndex < devices.size() ? devices.at(m_portIndex) : QString();
}

bool CVeltSecsI::GetPortOpen() const {
    return m_io != nullptr;
}

void CVeltSecsI::SetPortOpen(bool open) {
    if (!open) {
        if (!m_io)
            return;
        closeLine();
        m_core.abort();
        pump();
        setStateText(QStringLiteral("Closed"));
        return;
    }
    if (m_io)
        return;

    QString path = m_devicePath.trimmed();
    if (path.isEmpty()) {
        const QStringList devices = SerialDevices();
        if (m_portIndex < 0 || m_portIndex >= devices.size()) {
            Q_EMIT ErrorOccurred(PortFault, QStringLiteral("no serial device for port index %1 (%2 found: %3)")
                                                .arg(m_portIndex)
                                                .arg(devices.size())
                                                .arg(devices.join(QStringLiteral(", "))));
            return;
        }
        path = devices.at(m_portIndex);
    }
    const bool ok = path.startsWith(QStringLiteral("tcp:")) ? openTcp(path) : openSerial(path);
    if (!ok)
        return;
    m_openName = path;
    applyConfig();
    m_core.abort(); // a fresh line: nothing half-done from before
    m_core.takeEvents();
    setStateText(QString::fromLatin1(lineStateText(m_core.state())));
}

bool CVeltSecsI::openSerial(const QString& path) {
    auto* port = new QSerialPort(this);
    port->setPortName(path);
    if (!port->open(QIODevice::ReadWrite)) {
        Q_EMIT ErrorOccurred(PortFault, QStringLiteral("cannot open %1: %2").arg(path, port->errorString()));
        delete port;
        return false;
    }
    if (!port->setBaudRate(m_baud) || !port->setDataBits(QSerialPort::Data8) ||
        !port->setParity(QSerialPort::NoParity) || !port->setStopBits(QSerialPort::OneStop) ||
        !port->setFlowControl(QSerialPort::NoFlowControl)) {
        Q_EMIT ErrorOccurred(PortFault, QStringLiteral("cannot set %1 to %2 baud 8N1: %3")
                                            .arg(path)
                                            .arg(m_baud)
                                            .arg(port->errorString()));
        port->close();
        delete port;
        return false;
    }
    connect(port, &QSerialPort::errorOccurred, this, [this, port, path](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError || m_io != port)
            return;
        lineFault(QStringLiteral("%1: %2").arg(path, port->errorString()));
    });
    attach(port);
    return true;
}

bool CVeltSecsI::openTcp(const QString& path) {
    const auto target = parseTcpTarget(path.toStdString());
    if (!target) {
        Q_EMIT ErrorOccurred(PortFault, QStringLiteral("%1 is not tcp:HOST:PORT").arg(path));
        return false;
    }
    auto* socket = new QTcpSocket(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->connectToHost(QString::fromStdString(target->host), target->port);
    // The caller reads PortOpen right after writing it, so the connect is
    // awaited here: up to T2, never more than 5 s.
    if (!socket->waitForConnected(std::clamp(m_cfg.t2Ms, 1000, 5000))) {
        Q_EMIT ErrorOccurred(PortFault, QStringLiteral("cannot connect to %1: %2").arg(path, socket->errorString()));
        delete socket;
        return false;
    }
    connect(socket, &QTcpSocket::disconnected, this, [this, socket, path] {
        if (m_io == socket)
            lineFault(QStringLiteral("%1: connection closed by the peer").arg(path));
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket, path](QAbstractSocket::SocketError) {
        if (m_io == socket)
            lineFault(QStringLiteral("%1: %2").arg(path, socket->errorString()));
    });
    attach(socket);
    return true;
}

void CVeltSecsI::attach(QIODevice* device) {
    m_io = device;
    connect(device, &QIODevice::readyRead, this, &CVeltSecsI::onReadyRead);
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

void CVeltSecsI::lineFault(const QString& detail) {
    closeLine();
    m_core.abort();
    Q_EMIT ErrorOccurred(PortFault, detail);
    pump();
    setStateText(QStringLiteral("Closed"));
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

void CVeltSecsI::SendMessage(const QByteArray& message) {
    const auto* data = reinterpret_cast<const uint8_t*>(message.constData());
    std::vector<uint8_t> bytes(data, data + message.size());
    // SendCompleted names the message as hex text, as for SendHex.
    const QString hex = QString::fromLatin1(tovik::toHex(bytes));
    sendBytes(std::move(bytes), hex);
}

void CVeltSecsI::sendBytes(std::vector<uint8_t> bytes, const QString& hex) {
    if (!m_io) {
        Q_EMIT ErrorOccurred(PortFault, QStringLiteral("cannot send: the port is not open"));
        Q_EMIT SendCompleted(hex, false);
        return;
    }
    const uint64_t id = m_core.send(std::move(bytes), now());
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
