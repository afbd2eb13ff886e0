// Receive dispatch: every message either driver delivers, and the automatic
// replies from the document's definitions.
#include "CTovikarView.h"

#include "CHMsgHeader.h"

#include "CTovikarDoc.h"
#include "hex.h"

#include <algorithm>

#include <vector>

namespace tovik {

namespace {
const char kSelectRsp[] = "ffff0000000200000000";
const char kLinktestRsp[] = "ffff0000000600000000";
const char kDeselectRsp[] = "ffff0000000400000000";
} // namespace

void CTovikarView::OnMessageReceived(int port, const QString& address, int peerPort,
                                     const QByteArray& message) {
    LogBatch batch(*this);
    if (port == PortHsms && m_settings.Server) {
        // Whatever follows goes back to the peer that spoke.
        m_hsms.SetRemoteAddress(address);
        m_hsms.SetRemotePort(peerPort);
    }
    AddText(QStringLiteral("Decoding..."));
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.constData());
    // The peer's text is made only for a journal that keeps entries.
    if (m_journal.Recording())
        m_journal.Append(CHJournalEntry::In, port,
                         port == PortHsms ? QStringLiteral("%1:%2").arg(address).arg(peerPort) : address, bytes,
                         static_cast<std::size_t>(message.size()));
    m_working.SetMessage(bytes, static_cast<std::size_t>(message.size()));
    // The log, the open transactions and the scripts know a message by its
    // hex text; a relayed one is known by its header.
    const bool relayed = m_recording && port == PortHsms;
    const std::string text =
        toHex(bytes, relayed ? std::min<std::size_t>(10, std::size_t(message.size())) : std::size_t(message.size()));
    LogMessage(QStringLiteral("Received"), &m_working, &text);

    if (relayed) {
        if (m_working.IsControlMessage())
            answerControlMessage(port, text);
        else
            relayFromHost(message);
        return;
    }
    if (m_settings.Protocol == 3) {
        if (port == PortHsms && bridgeSession() && m_working.IsControlMessage()) {
            answerControlMessage(port, text);
            return;
        }
        // Bridge: relay what the working codec holds, control messages
        // included; nothing else.
        SetSendOrigin(CHJournalEntry::Origin::Relay);
        if (port == PortHsms) {
            journalOut(PortSecs, m_working.GetMessage());
            m_secs.SendFromCodec(m_working);
            LogMessage(QStringLiteral("Send"));
        } else if (port == PortSecs) {
            journalOut(PortHsms, m_working.GetMessage());
            m_hsms.SendFromCodec(m_working);
            LogMessage(QStringLiteral("Send"));
        }
        return;
    }

    const int stream = m_working.GetStream();
    if (m_settings.CheckDeviceID && m_working.GetDevice() != m_settings.DeviceID &&
        m_working.GetSessionID() != 65535 && stream != 0 && stream != 9) {
        m_working.SetSml("s9f1" + HeaderAsBinaryItem(text));
        SetSendOrigin(CHJournalEntry::Origin::S9);
        SendWorkingMessage(port, nullptr);
        return;
    }

    if (SentPrimaries.RemoveAnswered(text))
        m_awaitingReply = false;

    const bool control = m_settings.Protocol == 0 && m_working.IsControlMessage();
    if (stream == 0 && control) {
        if (answerControlMessage(port, text))
            return;
    } else if (stream == 9 && m_working.GetFunction() == 9) {
        if (CHPrimaryMsg* r = ReceivedPrimaries.FindAnswered(text, false))
            ReceivedPrimaries.RemoveRecord(r);
    }

    if (!control && m_receiveHook && m_receiveHook(port, text)) {
        Q_EMIT CommandStatesChanged();
        return;
    }

    // After a control answer the codec holds the response (function 0):
    // no automatic reply.
    const CHOneMsg* def = nullptr;
    switch (ChooseAutoReply(&def)) {
    case AutoReply::None:
        return;
    case AutoReply::Fallback:
        m_working.SetSml("<b 0>");
        SetSendOrigin(CHJournalEntry::Origin::Fallback);
        SendWorkingMessage(port, &text);
        break;
    case AutoReply::Definition:
        loadDefinition(*def);
        SetSendOrigin(CHJournalEntry::Origin::Definition, definitionName(*def));
        SendWorkingMessage(port, &text);
        break;
    case AutoReply::UserChooses:
        // The user chooses which definition answers it (Send Message).
        ReceivedPrimaries.AddPrimary(text);
        break;
    }
    Q_EMIT CommandStatesChanged();
}

CTovikarView::AutoReply CTovikarView::ChooseAutoReply(const CHOneMsg** def, int* candidates) {
    // Only primaries that expect a reply get one.
    const int function = m_working.GetFunction();
    if ((function & 1) == 0 || !m_working.GetWBit())
        return AutoReply::None;
    std::vector<CHOneMsg*> found;
    const int count = m_doc.FindByStreamFunction(static_cast<uint16_t>(m_working.GetStream()),
                                                 static_cast<uint16_t>(function + 1), found);
    if (candidates)
        *candidates = count;
    if (count == 0)
        return AutoReply::Fallback;
    if (count > 1)
        return AutoReply::UserChooses;
    if (def)
        *def = found.front();
    return AutoReply::Definition;
}

bool CTovikarView::bridgeSession() const {
    return (m_settings.Protocol == 3 && m_settings.BridgeSession) || m_recording;
}

bool CTovikarView::answerControlMessage(int port, const std::string& text) {
    using A = CHFaultRules::Action;
    switch (m_working.GetSType()) {
    case 1: {
        const auto fault = controlFault(CHFaultRules::Kind::Select);
        if (fault && fault->action == A::Drop)
            return true;
        m_working.SetHexMessage(kSelectRsp);
        if (fault) {
            // Select status in header byte 3: 1 already active, 2 not ready, 3 exhausted.
            std::string rejected = kSelectRsp;
            rejected[7] = static_cast<char>('0' + fault->status);
            m_working.SetHexMessage(rejected);
        }
        SetSendOrigin(CHJournalEntry::Origin::Control);
        SendWorkingMessage(port, &text);
        return true;
    }
    case 3:
        // Only the bridge's own session answers a Deselect.req; the
        // equipment of Protocol 0 logs it and goes on.
        if (!bridgeSession())
            return false;
        m_working.SetHexMessage(kDeselectRsp);
        SetSendOrigin(CHJournalEntry::Origin::Control);
        SendWorkingMessage(port, &text);
        return true;
    case 5: {
        const auto fault = controlFault(CHFaultRules::Kind::Linktest);
        if (fault && fault->action == A::Drop)
            return true;
        m_working.SetHexMessage(kLinktestRsp);
        m_controlFault = fault; // a delay, applied where it is written
        SetSendOrigin(CHJournalEntry::Origin::Control);
        SendWorkingMessage(port, &text);
        return true;
    }
    case 9:
        if (m_settings.DisconnectAtSeparateReq && port == PortHsms &&
            !controlFault(CHFaultRules::Kind::Separate)) {
            // The close waits for the event loop (the log of this message
            // comes first), so it names the connection the request came on:
            // other hosts may speak before it runs.
            const quint64 link = m_hsms.TargetLink();
            const bool server = m_settings.Server;
            QMetaObject::invokeMethod(
                this,
                [this, link, server] {
                    if (server)
                        m_hsms.DisconnectLink(link);
                    else if (m_connected && m_hsms.HasLink(link))
                        OnConnect();
                },
                Qt::QueuedConnection);
        }
        return true;
    default:
        return bridgeSession(); // no other control message crosses the bridge
    }
}

} // namespace tovik
