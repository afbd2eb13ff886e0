// The 55 ms timer: message-list refresh, T3 expiry with S9F9, reminders for
// received primaries left unanswered, and the SECS-I byte-trace flush.
#include "CTovikarView.h"

#include "CHEventLog.h"
#include "CHMsgHeader.h"
#include "CTovikarDoc.h"

#include <algorithm>

namespace tovik {

void CTovikarView::RefreshMessageList() {
    if (!m_doc.m_bRefreshList)
        return;
    m_doc.DecodeStreamFunctions(m_scratch);
    m_doc.m_bRefreshList = false;
    Q_EMIT MessageListRefreshed();
}

void CTovikarView::OnTimer() {
    LogBatch batch(*this);
    RefreshMessageList();

    // At most one record per list per tick: a burst of expiries is worked off
    // one by one rather than stalling a tick.
    if (CHPrimaryMsg* r = SentPrimaries.FindExpired()) {
        const std::string message = r->Message;
        ++m_t3Expiries;
        Q_EMIT SentPrimaryTimedOut(QString::fromStdString(message));
        m_scratch.SetHexMessage(message);
        LogMessage(QStringLiteral("T3 time out"), &m_scratch);
        if (m_settings.Protocol == 0 || m_settings.Protocol == 1) {
            if (m_connected) {
                m_scratch.ReplyTo(message);
                m_working.SetSml("s9f9" + HeaderAsBinaryItem(m_scratch.GetHexMessage()));
                SetSendOrigin(CHJournalEntry::Origin::S9);
                SendWorkingMessage(PortActiveTab, nullptr);
            } else {
                AddText(QStringLiteral("...However port has not been opened yet."));
                AddText(QStringLiteral("Cannot send s9f9."));
            }
        }
        Q_EMIT SentPrimaryExpired(QString::fromStdString(r->KeyText), r->KeyNumber);
        SentPrimaries.RemoveRecord(r);
    }

    if (CHPrimaryMsg* r = ReceivedPrimaries.FindExpired()) {
        m_scratch.SetHexMessage(r->Message);
        LogMessage(QStringLiteral("You didn't send reply of"), &m_scratch);
        ReceivedPrimaries.RemoveRecord(r);
    }

    if (m_awaitingReply && SentPrimaries.IsEmpty()) {
        m_awaitingReply = false;
        Q_EMIT CommandStatesChanged();
    }

    flushByteTrace();
}

void CTovikarView::flushByteTrace() {
    static uint32_t lastFlush = TickCount();
    const uint32_t now = TickCount();
    if (now == lastFlush)
        return;
    static const char* const labels[2] = {"Received", "Sent"};
    for (int i = 0; i < 2; ++i) {
        std::string& buf = m_byteTrace[i];
        if (buf.empty())
            continue;
        LogDateTime();
        std::string text = labels[i];
        const std::size_t bytes = buf.size() / 2;
        text.reserve(text.size() + bytes * 3 + bytes / 5 + 2);
        for (std::size_t j = 0; j < bytes; ++j) {
            if (j % 10 == 0)
                text += "\r\n";
            text += ' ';
            text.append(buf, 2 * j, 2);
        }
        AddText(QString::fromLatin1(text));
        buf.clear();
    }
    lastFlush = now;
}

} // namespace tovik
