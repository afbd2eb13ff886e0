// Send pipeline: header completion of every outgoing message, and the user's
// Send Message command.
#include "CTovikarView.h"

#include "CHEventLog.h"
#include "CHMsgHeader.h"
#include "CTovikarDoc.h"

#include "hex.h"
#include "qbytetext.h"

#include <utility>

namespace tovik {

bool CTovikarView::toHsms(int port) const {
    if (m_settings.Protocol == 0)
        return true;
    if (m_settings.Protocol == 3)
        return port == PortHsms || (port == PortActiveTab && m_activeTab == 1);
    return false;
}

void CTovikarView::SendWorkingMessage(int port, const std::string* primary) {
    const std::optional<CHFaultRules::Fault> fault =
        m_controlFault || !m_faults.empty() ? faultFor(port, primary) : std::nullopt;
    if (fault && fault->action == CHFaultRules::Action::Reply) {
        m_working.SetSml(fault->sml.toStdString());
        SetSendOrigin(CHJournalEntry::Origin::Fault);
    } else if (fault && fault->action == CHFaultRules::Action::S9 && primary) {
        SetSendOrigin(CHJournalEntry::Origin::S9);
        // A report of its own: new system bytes, the received header as its data.
        m_working.SetSml("s9f" + std::to_string(fault->function) + HeaderAsBinaryItem(*primary));
        primary = nullptr;
    }

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
    if (fault && fault->action == CHFaultRules::Action::DeviceId)
        m_working.SetDevice(static_cast<int32_t>(fault->value));
    if (fault && fault->action == CHFaultRules::Action::SystemBytes) {
        m_working.SetSourceID(static_cast<int32_t>(fault->value >> 16));
        m_working.SetTransactionID(static_cast<int32_t>(fault->value & 0xffff));
    }

    // Encoded once: the bytes go to the driver, their hex text to the log.
    const std::vector<uint8_t> bytes = m_working.GetMessage();
    const std::string hex = toHex(bytes);
    LogMessage(QStringLiteral("Send"), &m_working, &hex);
    journalOut(toHsms(port) ? PortHsms : PortSecs, bytes);

    if (m_settings.Protocol == 0)
        AddText(QStringLiteral("Sending..."));
    if (fault)
        writeFaulty(port, bytes, *fault);
    else
        writeOut(port, bytes);
    AddText(QStringLiteral("Completed"));
}

void CTovikarView::writeOut(int port, const std::vector<uint8_t>& bytes) {
    switch (m_settings.Protocol) {
    case 0:
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
}

std::optional<CHFaultRules::Fault> CTovikarView::faultFor(int port, const std::string* primary) {
    if (m_controlFault)
        return std::exchange(m_controlFault, std::nullopt);
    if (m_working.IsControlMessage())
        return std::nullopt;
    CHFaultRules::Query q;
    if (primary) {
        const CHMsgHeader h(*primary);
        q.stream = h.Stream;
        q.function = h.Function;
    } else {
        q.kind = CHFaultRules::Kind::Send;
        q.stream = m_working.GetStream();
        q.function = m_working.GetFunction();
    }
    q.hsms = m_settings.Protocol == 0;
    q.secs = m_settings.Protocol == 1 || m_settings.Protocol == 2;
    q.port = m_settings.Server ? m_settings.LocalPortNumber : m_settings.PortNumber;
    if (toHsms(port)) {
        q.peerAddress = m_hsms.GetRemoteAddress();
        q.peerPort = m_hsms.GetRemotePort();
    }
    std::optional<CHFaultRules::Fault> fault = m_faults.decide(q);
    if (fault)
        AddText(fault->LogLine(q));
    return fault;
}

std::optional<CHFaultRules::Fault> CTovikarView::controlFault(CHFaultRules::Kind kind) {
    if (m_faults.empty())
        return std::nullopt;
    CHFaultRules::Query q;
    q.kind = kind;
    q.port = m_settings.Server ? m_settings.LocalPortNumber : m_settings.PortNumber;
    q.peerAddress = m_hsms.GetRemoteAddress();
    q.peerPort = m_hsms.GetRemotePort();
    std::optional<CHFaultRules::Fault> fault = m_faults.decide(q);
    if (fault)
        AddText(fault->LogLine(q));
    return fault;
}

void CTovikarView::writeFaulty(int port, const std::vector<uint8_t>& bytes, const CHFaultRules::Fault& fault) {
    using A = CHFaultRules::Action;
    using W = CVeltHsms::WireFault;
    if (m_settings.Protocol == 0) {
        W wire;
        switch (fault.action) {
        case A::Delay:
            wire.kind = W::Delay;
            break;
        case A::Drop:
            wire.kind = W::Drop;
            break;
        case A::Duplicate:
            wire.kind = W::Duplicate;
            break;
        case A::Dribble:
            wire.kind = W::Dribble;
            wire.bytes = fault.bytes;
            break;
        case A::Truncate:
            wire.kind = W::Truncate;
            break;
        case A::Garbage:
            wire.kind = W::Garbage;
            wire.garbage = fault.garbage;
            break;
        case A::Disconnect:
            wire.kind = fault.after ? W::CloseAfter : W::CloseBefore;
            break;
        default:
            writeOut(port, bytes);
            return;
        }
        wire.ms = fault.ms;
        m_hsms.SendFaulty(asByteArray(bytes), wire);
        return;
    }
    // A serial line or the bridge: the wire actions do not match there.
    switch (fault.action) {
    case A::Drop:
        return;
    case A::Duplicate:
        writeOut(port, bytes);
        writeOut(port, bytes);
        return;
    case A::RBit:
    case A::BadChecksum:
    case A::SplitBlock: {
        secsi::SendFault line;
        line.flipRBit = fault.action == A::RBit;
        line.badChecksum = fault.action == A::BadChecksum;
        line.splitMs = fault.action == A::SplitBlock ? fault.ms : 0;
        m_secs.SendMessage(asByteArray(bytes), line);
        return;
    }
    case A::Delay: {
        const int tab = m_activeTab;
        // The bytes are final: the working codec holds something else by then.
        const bool hsms = toHsms(port);
        QTimer::singleShot(fault.ms, this, [this, port, bytes, tab, hsms] {
            if (hsms) {
                m_hsms.SendMessage(asByteArray(bytes));
                return;
            }
            const int shown = std::exchange(m_activeTab, tab);
            writeOut(port, bytes);
            m_activeTab = shown;
        });
        return;
    }
    default:
        writeOut(port, bytes);
        return;
    }
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
    SetSendOrigin(CHJournalEntry::Origin::User);
    SendDefinition(*def, PortActiveTab);
}

quint64 CTovikarView::SendDefinition(const CHOneMsg& def, int port) {
    LogBatch batch(*this);
    // The caller may have named who asked; the name is the definition's.
    const CHJournalEntry::Origin origin = m_sendOrigin == CHJournalEntry::Origin::Program
                                              ? CHJournalEntry::Origin::User
                                              : m_sendOrigin;
    loadDefinition(def);
    SetSendOrigin(origin, definitionName(def));
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
            SentPrimaries.AddPrimary(m_working.GetHexMessage())) {
            m_awaitingReply = true;
            wakeTimer();
        }
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
    m_journal.Append(CHJournalEntry::Out, port, peer, bytes.data(), bytes.size(), m_sendOrigin, m_sendSource);
    m_sendOrigin = CHJournalEntry::Origin::Program;
    m_sendSource.clear();
}

const QString& CTovikarView::definitionName(const CHOneMsg& def) {
    if (def.m_strName != m_definitionNameBytes || m_definitionName.isNull()) {
        m_definitionNameBytes = def.m_strName;
        m_definitionName = TextFromBytes(def.m_strName);
    }
    return m_definitionName;
}

} // namespace tovik
