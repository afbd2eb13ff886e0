#include "CTovikarView.h"

#include "CHEventLog.h"
#include "CTovikarDoc.h"

#include "qbytetext.h"

namespace tovik {

namespace {
uint16_t g_nextTransactionID = 0;
}

uint16_t CTovikarView::NextTransactionID() { return g_nextTransactionID; }
void CTovikarView::SetNextTransactionID(uint16_t id) { g_nextTransactionID = id; }

CTovikarView::CTovikarView(CTovikarDoc& doc, QObject* parent)
    : QObject(parent), m_doc(doc), m_log(std::make_unique<CHEventLog>()) {
    SentPrimaries.Codec = &m_scratch;
    ReceivedPrimaries.Codec = &m_scratch;

    connect(&m_hsms, &CVeltHsms::MessageArrived, this,
            [this](const QString& address, int port, const QByteArray& message) {
                OnMessageReceived(PortHsms, address, port, message);
            });
    connect(&m_hsms, &CVeltHsms::ErrorOccurred, this, &CTovikarView::OnHsmsError);
    connect(&m_hsms, &CVeltHsms::ConnectionChanged, this, &CTovikarView::OnHsmsConnection);
    connect(&m_hsms, &CVeltHsms::PeerChanged, this, &CTovikarView::OnHsmsPeer);
    connect(&m_hsms, &CVeltHsms::ClientRefused, this, &CTovikarView::OnHsmsRefused);
    connect(&m_secs, &CVeltSecsI::MessageArrived, this,
            [this](const QByteArray& message) { OnMessageReceived(PortSecs, QString(), 0, message); });
    connect(&m_secs, &CVeltSecsI::SendCompleted, this, &CTovikarView::OnSecsSendCompleted);
    connect(&m_secs, &CVeltSecsI::ErrorOccurred, this, &CTovikarView::OnSecsError);
    connect(&m_secs, &CVeltSecsI::LineRestored, this, &CTovikarView::OnSecsRestored);
    connect(&m_secs, &CVeltSecsI::ByteTraced, this, &CTovikarView::OnSecsByte);

    // A SECS-I peer's ENQ and blocks meet the line rules as they arrive.
    m_secs.SetReceiveFaultHook([this](const uint8_t* header) {
        if (m_faults.empty())
            return secsi::ReceiveFault::None;
        CHFaultRules::Query q;
        q.kind = CHFaultRules::Kind::Line;
        q.hsms = false;
        q.secs = true;
        q.stream = header ? header[2] & 0x7f : -1;
        q.function = header ? header[3] : -1;
        const std::optional<CHFaultRules::Fault> fault = m_faults.decide(q);
        if (!fault)
            return secsi::ReceiveFault::None;
        AddText(fault->LogLine(q));
        return fault->action == CHFaultRules::Action::Nak ? secsi::ReceiveFault::Nak : secsi::ReceiveFault::NoEot;
    });

    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CTovikarView::OnTimer);
    SentPrimaries.OnAdded = [this] { wakeTimer(); };
    ReceivedPrimaries.OnAdded = [this] { wakeTimer(); };
    connect(&m_doc, &CTovikarDoc::listChanged, this, &CTovikarView::wakeTimer);
}

CTovikarView::~CTovikarView() {
    m_timer.stop();
    flushLogBatch();
    UpdateTrayIcon(2);
    // The drivers go before the lists and the log they report into.
    disconnect(&m_hsms, nullptr, this, nullptr);
    disconnect(&m_secs, nullptr, this, nullptr);
    SentPrimaries.RemoveAll();
    ReceivedPrimaries.RemoveAll();
}

void CTovikarView::AddText(const QString& text) {
    // An empty text clears the log: it cannot join a batch.
    if (m_batchDepth == 0 || text.isEmpty()) {
        flushLogBatch();
        m_log->AddText(text);
        return;
    }
    if (!m_batch.isEmpty())
        m_batch += QLatin1Char('\n');
    m_batch += text;
}

void CTovikarView::flushLogBatch() {
    if (m_batch.isEmpty())
        return;
    // The batch's storage is reused by the next batch; a line added while the
    // log takes this one starts a new batch rather than changing this one.
    std::swap(m_batch, m_batchSpare);
    {
        const QString text = m_batchSpare; // shared, not copied: alive whatever the log's sinks do
        m_log->AddText(text);
    }
    if (m_batchSpare.capacity() > kKeptBatchChars)
        m_batchSpare = QString();
    else
        m_batchSpare.truncate(0);
}

void CTovikarView::postCommand(int command) {
    switch (command) {
    case ID_CONNECT:
        QMetaObject::invokeMethod(this, &CTovikarView::OnConnect, Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

bool CTovikarView::IsCommandEnabled(int command) const {
    switch (command) {
    case ID_CONNECT:
        return true;
    case ID_OPTION:
        return !m_connected;
    case ID_SEND_MESSAGE:
        return m_connected;
    case ID_DISCONNECT:
        return m_settings.Server;
    default:
        return true;
    }
}

bool CTovikarView::IsCommandChecked(int command) const {
    switch (command) {
    case ID_CONNECT:
        return m_connected;
    case ID_SEND_MESSAGE:
        return m_awaitingReply;
    default:
        return false;
    }
}

void CTovikarView::loadDefinition(const CHOneMsg& def) {
    const std::string& text = def.m_strText;
    if (!def.m_bStructure) {
        m_working.SetHexMessage(text);
    } else if (m_lastDefinitionValid && text == m_lastDefinitionText) {
        // A parse depends on the text alone, so the same text gives the same
        // codec state; the text is compared whole, which also catches an
        // edited definition. Only the connect-time flag is the working
        // codec's own.
        const bool property7 = m_working.GetProperty7();
        static_cast<CVeltSecsII&>(m_working) = m_lastDefinition;
        m_working.SetProperty7(property7);
        return;
    } else {
        m_working.SetSml(text);
        m_lastDefinitionValid = m_working.GetLastError().empty();
        if (m_lastDefinitionValid) {
            static_cast<CVeltSecsII&>(m_lastDefinition) = m_working;
            m_lastDefinitionText = text;
        }
    }
    // What goes out is whatever the codec kept; the user learns why first.
    if (!m_working.GetLastError().empty())
        AddText(QStringLiteral("Cannot load message '%1': %2"), TextFromBytes(def.m_strName),
                TextFromBytes(m_working.GetLastError()));
}

} // namespace tovik
