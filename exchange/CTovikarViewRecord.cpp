// The recording proxy: the host's passive side is the HSMS port, the
// equipment's side an active link of its own; data messages cross unchanged
// and go into the recording's journal.
#include "CTovikarView.h"

#include "CHEventLog.h"
#include "CHMsgHeader.h"
#include "CHRecording.h"
#include "hex.h"

namespace tovik {

namespace {
// RAII for the log's peer: entries written meanwhile name the equipment.
struct UpstreamSide {
    explicit UpstreamSide(bool& flag) : m_flag(flag) { m_flag = true; }
    ~UpstreamSide() { m_flag = false; }
    UpstreamSide(const UpstreamSide&) = delete;
    UpstreamSide& operator=(const UpstreamSide&) = delete;
    bool& m_flag;
};

std::string hexOf(const QByteArray& bytes) {
    return toHex(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}
} // namespace

void CTovikarView::StartRecording(const QString& host, int port, CHRecording& recording) {
    m_recording = &recording;
    m_upstreamHost = host;
    m_upstreamPort = port;
    m_upstream = std::make_unique<CHVeltHsms>();
    m_upstream->SetCapture(m_capture);
    m_upstream->SetRelayPartner(&m_hsms);
    connect(m_upstream.get(), &CVeltHsms::MessageArrived, this, &CTovikarView::onUpstreamMessage);
    connect(m_upstream.get(), &CVeltHsms::ConnectionChanged, this, &CTovikarView::onUpstreamConnection);
    connect(m_upstream.get(), &CVeltHsms::ErrorOccurred, this,
            [this](const QString& address, int peerPort, short code, const QString& detail) {
                OnHsmsError(address, peerPort, code, detail);
            });
    m_upstreamRetry.setSingleShot(true);
    connect(&m_upstreamRetry, &QTimer::timeout, this, &CTovikarView::connectUpstream);
}

void CTovikarView::SetCapture(capture::PcapngWriter* capture) {
    m_capture = capture;
    m_hsms.SetCapture(capture);
    m_secs.SetCapture(capture);
    if (m_upstream)
        m_upstream->SetCapture(capture);
}

void CTovikarView::connectUpstream() {
    if (!m_upstream || !m_connected || m_upstream->GetState() >= CVeltHsms::Connected)
        return;
    LogBatch batch(*this);
    m_upstream->SetPortOpen(false);
    QString address = m_upstream->ResolveAddress(m_upstreamHost);
    if (address.isEmpty())
        address = m_upstreamHost;
    m_upstream->SetRemoteAddress(address);
    m_upstream->SetRemotePort(m_upstreamPort);
    m_upstream->SetServerMode(false);
    m_upstream->SetT8Timeout(m_settings.T8);
    m_upstream->SetT6Timeout(m_settings.T6);
    m_upstream->SetT7Timeout(0);
    m_upstream->SetLinktestInterval(m_settings.LinktestInterval > 0 ? m_settings.LinktestInterval * 1000 : 0);
    m_upstream->SetMaxPartialBytes(std::uint64_t(std::max(0, m_settings.MaxPartialMB)) * 1024 * 1024);
    m_upstream->SetPortOpen(true);
    if (!m_upstream->GetPortOpen())
        upstreamDown(QStringLiteral("cannot be reached"));
}

void CTovikarView::closeUpstream() {
    m_upstreamRetry.stop();
    m_upstreamSelected = false;
    if (m_upstream)
        m_upstream->SetPortOpen(false);
}

void CTovikarView::upstreamDown(const QString& why) {
    m_upstreamSelected = false;
    if (!m_equipmentOutageTold) {
        m_equipmentOutageTold = true;
        AddText(QStringLiteral("Recording: the equipment at %1(%2) %3; the host's messages get no reply until it is "
                               "back (trying again every %4 ms).")
                    .arg(m_upstreamHost)
                    .arg(m_upstreamPort)
                    .arg(why)
                    .arg(m_settings.T5));
    }
    if (m_connected)
        m_upstreamRetry.start(std::max(100, m_settings.T5));
}

void CTovikarView::onUpstreamConnection(const QString& address, int port, bool connected) {
    LogBatch batch(*this);
    AddText((connected ? QStringLiteral("Connected with %1(%2) (equipment)")
                       : QStringLiteral("Disconnected with %1(%2) (equipment)"))
                .arg(address)
                .arg(port));
    if (!connected) {
        upstreamDown(QStringLiteral("closed the connection"));
        return;
    }
    m_working.SetHexMessage("ffff0000000100000000");
    m_working.SetTransactionID(NextTransactionID());
    SetNextTransactionID(static_cast<uint16_t>(NextTransactionID() + 1));
    const std::vector<uint8_t> bytes = m_working.GetMessage();
    UpstreamSide side(m_logUpstream);
    LogMessage(QStringLiteral("Send"));
    m_upstream->SendMessage(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

void CTovikarView::relayFromHost(const QByteArray& message) {
    if (!m_upstreamSelected) {
        if (!m_equipmentOutageTold) {
            m_equipmentOutageTold = true;
            AddText(QStringLiteral("Recording: the equipment side is not selected yet; the host's messages get no "
                                   "reply until it is."));
        }
        return;
    }
    m_recording->add({QDateTime::currentDateTimeUtc(), true, m_hsms.GetListeningPort(), message});
    UpstreamSide side(m_logUpstream);
    m_upstream->SendMessage(message);
    LogMessage(QStringLiteral("Send"));
}

void CTovikarView::onUpstreamMessage(const QString&, int, const QByteArray& message) {
    LogBatch batch(*this);
    UpstreamSide side(m_logUpstream);
    AddText(QStringLiteral("Decoding..."));
    m_working.SetMessage(reinterpret_cast<const uint8_t*>(message.constData()), static_cast<std::size_t>(message.size()));
    // The log and the control answers read the header only.
    const std::string text = hexOf(message.left(10));
    LogMessage(QStringLiteral("Received"), &m_working, &text);
    if (!m_working.IsControlMessage()) {
        m_recording->add({QDateTime::currentDateTimeUtc(), false, m_upstreamPort, message});
        if (m_hsms.GetClientCount() == 0) {
            if (!m_hostOutageTold) {
                m_hostOutageTold = true;
                AddText(QStringLiteral("Recording: no host is connected; what the equipment sends is recorded, "
                                       "not relayed."));
            }
            return;
        }
        m_hostOutageTold = false;
        m_logUpstream = false;
        m_hsms.SendMessage(message);
        LogMessage(QStringLiteral("Send"));
        return;
    }
    // The equipment's side of the session is Tovik's own.
    const char* answer = nullptr;
    switch (m_working.GetSType()) {
    case 1: answer = "ffff0000000200000000"; break;
    case 3: answer = "ffff0000000400000000"; break;
    case 5: answer = "ffff0000000600000000"; break;
    case 2:
        m_upstreamSelected = message.size() > 3 && message[3] == 0; // SelectStatus 0: selected
        if (m_upstreamSelected && m_equipmentOutageTold) {
            m_equipmentOutageTold = false;
            AddText(QStringLiteral("Recording: the equipment is back; relaying again."));
        }
        return;
    case 9:
        m_upstream->DisconnectLink(m_upstream->TargetLink());
        upstreamDown(QStringLiteral("separated"));
        return;
    default:
        return;
    }
    const CHMsgHeader h(text);
    m_working.SetHexMessage(answer);
    m_working.SetTransactionID(h.SystemLow);
    m_working.SetSourceID(h.SystemHigh);
    LogMessage(QStringLiteral("Send"));
    const std::vector<uint8_t> bytes = m_working.GetMessage();
    m_upstream->SendMessage(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

} // namespace tovik
