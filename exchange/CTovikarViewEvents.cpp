// Driver events other than received messages: HSMS errors, connection and
// peer changes, SECS-I send results, errors and traced bytes.
#include "CTovikarView.h"

#include "CHEventLog.h"

#include <QThread>

#include <cstdio>

namespace tovik {

void CTovikarView::OnHsmsError(const QString& address, int port, short code, const QString& detail) {
    LogBatch batch(*this);
    AddText(QStringLiteral("Error (%1) with %2(%3)").arg(code).arg(address).arg(port));
    const QString detailLine = detail.isEmpty() ? QStringLiteral("No additional info.") : detail;
    switch (code) {
    case -9:
        AddText(QStringLiteral("Error : Partial messages over MaxPartialMB=%1.").arg(m_settings.MaxPartialMB));
        AddText(detailLine);
        break;
    case -8:
        AddText(QStringLiteral("Error : T7 time out."));
        break;
    case -7:
        AddText(QStringLiteral("Error : T6 time out."));
        break;
    case -6:
        AddText(QStringLiteral("Error : T5 time out."));
        break;
    case -5:
        AddText(QStringLiteral("Error : T3 time out."));
        AddText(detailLine);
        break;
    case -4:
        AddText(QStringLiteral("Error : T8 time out."));
        break;
    case -3:
        AddText(QStringLiteral("Error : Longer."));
        break;
    case -2:
        AddText(QStringLiteral("Error : Too long."));
        AddText(detailLine);
        break;
    case -1:
        AddText(QStringLiteral("Error : Cannot send."));
        break;
    default:
        AddText(QStringLiteral("Error : Other error."));
        break;
    }
}

void CTovikarView::OnHsmsConnection(const QString& address, int port, bool connected) {
    LogBatch batch(*this);
    AddText((connected ? QStringLiteral("Connected with %1(%2)")
                       : QStringLiteral("Disconnected with %1(%2)"))
                .arg(address)
                .arg(port));
    if (!connected && !m_hsms.GetServerMode()) {
        // The port stays as it is; the next Connect opens it again.
        m_connected = false;
        UpdateTrayIcon(1);
        Q_EMIT CommandStatesChanged();
    }
    if (connected && (m_settings.Protocol == 0 || bridgeSession()) && m_settings.SendSelectReqAtConnect &&
        !m_hsms.GetServerMode()) {
        m_working.SetHexMessage("ffff0000000100000000");
        SetSendOrigin(CHJournalEntry::Origin::Control);
        // Passive peers often start reading only after their accept returns.
        QThread::msleep(100);
        // The bridge's own session: the request is for the HSMS host, not
        // for the line of the tab shown.
        SendWorkingMessage(bridgeSession() ? PortHsms : PortActiveTab, nullptr);
    }
    Q_EMIT HsmsConnectionChanged(address, port, connected);
}

void CTovikarView::OnHsmsPeer(const QString& address, int port) {
    m_hsms.SetRemoteAddress(address);
    m_hsms.SetRemotePort(port);
}

void CTovikarView::OnHsmsRefused(const QString& address, int port, int limit) {
    AddText(QStringLiteral("Refused %1(%2): %3 host(s) already connected (MaxClients=%3)")
                .arg(address)
                .arg(port)
                .arg(limit));
}

void CTovikarView::OnSecsSendCompleted(const QString& hex, bool success) {
    LogBatch batch(*this);
    const std::string text = hex.toStdString();
    if (success) {
        m_working.SetHexMessage(text);
        if ((m_settings.Protocol == 0 || m_settings.Protocol == 1) && (m_working.GetFunction() & 1) &&
            m_working.GetWBit() && SentPrimaries.AddPrimary(text)) {
            m_awaitingReply = true;
            wakeTimer();
            Q_EMIT CommandStatesChanged();
        }
    } else {
        LogDateTime();
        AddText(QStringLiteral("Send error!"));
    }
    if (m_settings.Protocol == 3 && m_settings.InvokeEvent) {
        char head[32];
        std::snprintf(head, sizeof head, "s%df%d", m_settings.EventStream, m_settings.EventFunction);
        sendEventMessage(std::string(head) + "{\t<a'Write'>\t<a'" + text + "'>\t<bool " +
                         (success ? "true" : "false") + ">}");
    }
}

void CTovikarView::OnSecsError(short code, const QString& detail) {
    LogBatch batch(*this);
    const QString name = SecsErrorText(code);
    AddText(QStringLiteral("Error (%1) %2").arg(code).arg(name));
    if (m_settings.Protocol == 3 && m_settings.InvokeEvent) {
        char head[48];
        std::snprintf(head, sizeof head, "s%df%d{\t<a'Errors'>\t<i2 %d>\t<a'", m_settings.EventStream,
                      m_settings.EventFunction, static_cast<int>(code));
        sendEventMessage(std::string(head) + name.toStdString() + "'>\t<a'" + detail.toStdString() +
                         "'>}");
    }
}

void CTovikarView::OnSecsRestored(const QString& device) {
    LogBatch batch(*this);
    AddText(QStringLiteral("SECS port has been opened again (%1).").arg(device));
}

void CTovikarView::sendEventMessage(const std::string& sml) {
    m_working.SetSml(sml);
    SendWorkingMessage(PortHsms, nullptr);
}

void CTovikarView::OnSecsByte(short character, bool received) {
    if (!m_settings.LogVerbose)
        return;
    static const char digits[] = "0123456789abcdef";
    const unsigned c = static_cast<unsigned>(character) & 0xffu;
    std::string& buf = m_byteTrace[received ? 0 : 1];
    buf += digits[c >> 4];
    buf += digits[c & 15];
    wakeTimer();
}

QString CTovikarView::SecsErrorText(int code) {
    switch (code) {
    case 1: return QStringLiteral("Received unexpected char");
    case 2: return QStringLiteral("Invalid length");
    case 3: return QStringLiteral("Incorrect check sum");
    case 4: return QStringLiteral("Parity error");
    case 5: return QStringLiteral("Invalid multi block number");
    case 6: return QStringLiteral("Invalid block number");
    case 7: return QStringLiteral("Received NAK");
    case 8: return QStringLiteral("Retry over");
    case 9: return QStringLiteral("T4 time out");
    case 10: return QStringLiteral("T2 time out");
    case 11: return QStringLiteral("T1 time out");
    case 12: return QStringLiteral("T3 time out");
    case 13: return QStringLiteral("Invalid device ID");
    // The line itself, each cause its own code.
    case 14: return QStringLiteral("Cannot open port");
    case 15: return QStringLiteral("Connection closed by the peer");
    case 16: return QStringLiteral("Device removed");
    case 17: return QStringLiteral("Line failure");
    default: return QStringLiteral("Unknown error");
    }
}

} // namespace tovik
