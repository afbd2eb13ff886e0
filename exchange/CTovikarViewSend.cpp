// Send pipeline: header completion of every outgoing message, and the user's
// Send Message command.
#include "CTovikarView.h"

#include "CHEventLog.h"
#include "CHMsgHeader.h"
#include "CTovikarDoc.h"

#include "hex.h"
#include "qbytetext.h"

namespace tovik {

bool CTovikarView::toHsms(int port) const {
    if (m_settings.Protocol == 0)
        return true;
    if (m_settings.Protocol == 3)
        return port == PortHsms || (port == PortActiveTab && m_activeTab == 1);
    return false;
}

void CTovikarView::SendWorkingMessage(int port, const std::string* primary) {
    if (m_working.GetSType() == 0)
        m_working.SetDevice(m_settings.DeviceID);

    if (!primary) {
        m_working.SetTransactionID(NextTransactionID());
        SetNextTransactionID(static_cast<uint16_t>(NextTransactionID() + 1));
    } else if (m_working.GetSessionID() != 65535) {
        m_working.ReplyTo(*primary);
    } else {
        // A control response: the codec's ReplyTo is for data messages.
        const CHMsgHeader h(*primary);
        m_working.SetTransactionID(h.SystemLow);
        m_working.SetSourceID(h.SystemHigh);
    }

    if (toHsms(port)) {
        m_working.SetPType(0);
        if (m_working.GetSessionID() != 65535) {
            m_working.SetSType(0);
            m_working.SetSessionID(m_settings.DeviceID);
        }
    }

    // Encoded once: the bytes go to the driver, their hex text to the log.
    const std::vector<uint8_t> bytes = m_working.GetMessage();
    const std::string hex = toHex(bytes);
    LogMessage(QStringLiteral("Send"), &m_working, &hex);
    journalOut(toHsms(port) ? PortHsms : PortSecs, bytes);

    switch (m_settings.Protocol) {
    case 0:
        AddText(QStringLiteral("Sending..."));
        m_hsms.SendMessage(asByteArray(bytes));
        break;
    case 1:
    case 2:
        m_secs.SendMessage(asByteArray(bytes));
        break;
    case 3:
        if (port == PortSecs || (port == PortActiveTab && m_activeTab == 0))
            m_secs.SendMessage(asByteArray(bytes));
        else if (port == PortHsms || (port == PortActiveTab && m_activeTab == 1))
            m_hsms.SendFromCodec(m_working, bytes);
        break;
    default:
        break;
    }
    AddText(QStringLiteral("Completed"));
}

void CTovikarView::OnSendMessage() {
    LogBatch batch(*this);
    if (m_awaitingReply) {
        // The first press after a send only stops waiting.
        m_awaitingReply = false;
        Q_EMIT CommandStatesChanged();
        return;
    }
    const QString name = m_selection ? m_selection() : QString();
    if (name.isEmpty()) {
        AddText(QStringLiteral("No selected message."));
        return;
    }
    const CHOneMsg* def = m_doc.FindByName(BytesFromText(name));
    if (!def) {
        AddText(QStringLiteral("Cannot find specified message '%1'."), name);
        return;
    }
    SendDefinition(*def, PortActiveTab);
}

quint64 CTovikarView::SendDefinition(const CHOneMsg& def, int port) {
    LogBatch batch(*this);
    loadDefinition(def);
    const quint64 before = m_journal.LastId();

    bool sent = false;
    if (m_working.GetStream() != 0 && (m_working.GetFunction() & 1) == 0) {
        const std::string hex = m_working.GetHexMessage();
        if (CHPrimaryMsg* r = ReceivedPrimaries.FindAnswered(hex, true)) {
            const std::string primary = r->Message;
            SendWorkingMessage(port, &primary);
            ReceivedPrimaries.RemoveRecord(r);
            sent = true;
        } else {
            AddText(QStringLiteral("Cannot find primary message...but send anyway."));
        }
    }
    if (!sent)
        SendWorkingMessage(port, nullptr);

    if (m_settings.Protocol == 0 || (m_settings.Protocol == 3 && toHsms(port))) {
        if ((m_working.GetFunction() & 1) && m_working.GetWBit() &&
            SentPrimaries.AddPrimary(m_working.GetHexMessage()))
            m_awaitingReply = true;
    }
    Q_EMIT CommandStatesChanged();
    return m_journal.LastId() > before ? m_journal.LastId() : 0;
}

void CTovikarView::journalOut(int port, const std::vector<uint8_t>& bytes) {
    QString peer;
    if (port == PortHsms)
        peer = QStringLiteral("%1:%2").arg(m_hsms.GetRemoteAddress()).arg(m_hsms.GetRemotePort());
    else
        peer = m_settings.DevicePath.isEmpty() ? QStringLiteral("COM%1").arg(m_settings.CommPort)
                                               : m_settings.DevicePath;
    m_journal.Append(CHJournalEntry::Out, port, peer, bytes.data(), bytes.size());
}

} // namespace tovik
