// The 55 ms timer: message-list refresh, T3 expiry with S9F9, reminders for
// received primaries left unanswered, and the SECS-I byte-trace flush. An idle
// equipment has none of that to do, so the timer then sleeps: hundreds of
// equipments on one machine would otherwise wake it 18 times a second each.
// Nor does a transaction need a tick before it can expire.
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
    m_tickRan = m_tickIndex;
    m_tickSleeps = false;
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
    if (timerHasWork())
        armNextTick();
}

bool CTovikarView::timerHasWork() const {
    return m_doc.m_bRefreshList || !SentPrimaries.IsEmpty() || !ReceivedPrimaries.IsEmpty() ||
           m_awaitingReply || !m_byteTrace[0].empty() || !m_byteTrace[1].empty();
}

void CTovikarView::wakeTimer() {
    if (!m_firstUpdate && (!m_timer.isActive() || m_tickSleeps))
        armNextTick();
}

namespace {
// Milliseconds until the list's oldest record (its head: records are stamped
// in order) can expire, 0 when it may have already.
qint64 untilFirstExpiry(const CHPrimaryMsgList& list) {
    const CHPrimaryMsg* head = list.GetHead();
    const auto left = static_cast<int32_t>(head->Created + static_cast<uint32_t>(list.Timeout) + 1u -
                                           CHPrimaryMsgList::TickNow());
    return std::max<qint64>(0, left);
}
} // namespace

// The next tick of the grid: a woken timer keeps the phase it always had, and
// a late tick is not followed by a burst of the ones it missed. A reply
// usually comes long before T3: while open transactions are all that waits,
// the ticks that could only find them unexpired are skipped (an equipment
// answered within milliseconds would otherwise wake for one tick per message).
void CTovikarView::armNextTick() {
    constexpr qint64 kTickMs = 55;
    const qint64 now = m_tickOrigin.elapsed();
    m_tickIndex = std::max(m_tickRan + 1, now / kTickMs + 1);
    m_tickSleeps = false;
    if (!m_doc.m_bRefreshList && !m_awaitingReply && m_byteTrace[0].empty() && m_byteTrace[1].empty()) {
        qint64 wait = -1;
        for (const CHPrimaryMsgList* list : {&SentPrimaries, &ReceivedPrimaries})
            if (!list->IsEmpty())
                wait = wait < 0 ? untilFirstExpiry(*list) : std::min(wait, untilFirstExpiry(*list));
        // The tick before the one due, for the two clocks' rounding.
        const qint64 due = wait < 0 ? 0 : (now + wait) / kTickMs - 1;
        if (due > m_tickIndex) {
            m_tickIndex = due;
            m_tickSleeps = true;
        }
    }
    m_timer.start(static_cast<int>(m_tickIndex * kTickMs - now));
}

void CTovikarView::setTransactionTimeout(int ms) {
    SentPrimaries.Timeout = ms;
    ReceivedPrimaries.Timeout = ms;
    wakeTimer(); // a shorter T3 may be due before the tick armed
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
