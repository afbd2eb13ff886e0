#include "CHMessageModel.h"

#include "CHItemTree.h"
#include "hex.h"
#include "qbytetext.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

#include <algorithm>
#include <iterator>

namespace tovik {

namespace {

using O = CHJournalEntry::Origin;

const char* controlName(int sType) {
    switch (sType) {
    case 1: return "Select.req";
    case 2: return "Select.rsp";
    case 3: return "Deselect.req";
    case 4: return "Deselect.rsp";
    case 5: return "Linktest.req";
    case 6: return "Linktest.rsp";
    case 7: return "Reject.req";
    case 9: return "Separate.req";
    default: return "control";
    }
}

// Per origin, in the order of its values: the word of the Origin column
// and the sentence of the row's description (%1: the host, the name of the
// definition or the script's handler, the S,F without a definition).
struct OriginNames {
    const char* word;
    const char* text;
};
constexpr OriginNames kOrigins[] = {
    {"peer", "Received from %1"},
    {"definition", "The document's definition '%1'"},
    {"script", "The reply script: %1"},
    {"fallback <b 0>", "The built-in fallback reply <b 0>: the document has no definition of S%1F%2"},
    {"S9 report", "An error report of Tovik's own (S9)"},
    {"user", "Sent by the user"},
    {"control", "Tovik's HSMS control message"},
    {"relay", "Relayed by the bridge"},
    {"fault rule", "A fault rule's reply"},
    {"Tovik", "Sent by Tovik of its own accord"},
};
static_assert(std::size(kOrigins) == static_cast<std::size_t>(O::Program) + 1, "a name for every origin");

// The name of the definition that made a message Tovik sent (its reply or
// the user's send); nothing for what no definition made.
QString definitionOf(const CHJournalEntry& e) {
    return e.origin == O::Definition || e.origin == O::User ? e.source : QString();
}

// Colours only repeat what the texts say: direction, fallback, error report.
const QColor kInColour(0, 110, 40);
const QColor kOutColour(20, 70, 190);
const QColor kFallbackBack(255, 221, 170);
const QColor kS9Back(255, 200, 200);
const QColor kLinkedBack(255, 250, 160);

} // namespace

CHMessageModel::CHMessageModel(CHMessageJournal& journal, QObject* parent)
    : QAbstractTableModel(parent), m_journal(journal) {
    m_batch.setSingleShot(true);
    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &CHMessageModel::CatchUp);
    // One timer start per batch; each message costs only the check.
    connect(&journal, &CHMessageJournal::Appended, this, [this] {
        if (!m_batch.isActive())
            m_batch.start();
    });
    connect(&journal, &CHMessageJournal::Cleared, this, [this] {
        beginResetModel();
        m_ids.clear();
        m_seen = m_journal.LastId();
        endResetModel();
        Q_EMIT CountChanged(0, static_cast<int>(m_journal.Size()));
    });
    SetFilter({});
}

int CHMessageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_ids.size());
}

int CHMessageModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CHMessageModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kNames[] = {"Time", "Dir", "Port and host", "Message", "Device",
                                         "System bytes", "Definition", "Latency", "Origin"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return QString::fromLatin1(kNames[section]);
}

const CHJournalEntry* CHMessageModel::EntryAt(int row) const {
    if (row < 0 || row >= static_cast<int>(m_ids.size()))
        return nullptr;
    return m_journal.Entry(m_ids[static_cast<std::size_t>(row)]);
}

int CHMessageModel::RowOf(quint64 id) const {
    const auto it = std::lower_bound(m_ids.begin(), m_ids.end(), id);
    return it != m_ids.end() && *it == id ? static_cast<int>(it - m_ids.begin()) : -1;
}

std::vector<const CHJournalEntry*> CHMessageModel::Entries() const {
    std::vector<const CHJournalEntry*> out;
    out.reserve(m_ids.size());
    for (const quint64 id : m_ids)
        if (const CHJournalEntry* e = m_journal.Entry(id))
            out.push_back(e);
    return out;
}

QString CHMessageModel::MessageText(const CHJournalEntry& e) {
    if (!e.hasHeader())
        return QStringLiteral("(short)");
    if (e.isControl())
        return QString::fromLatin1(controlName(e.sType()));
    QString text = QStringLiteral("S%1F%2").arg(e.stream()).arg(e.function());
    if (e.wbit())
        text += QStringLiteral(" W");
    return text;
}

QString CHMessageModel::HostText(const CHJournalEntry& e) {
    return (e.port == 1 ? QStringLiteral("HSMS ") : QStringLiteral("SECS-I ")) + e.peer;
}

QString CHMessageModel::OriginWord(const CHJournalEntry& e) {
    const QString word = QString::fromLatin1(kOrigins[static_cast<std::size_t>(e.origin)].word);
    // The script's file and handler pattern: which of its handlers answered.
    return e.origin == O::Script ? word + QLatin1Char(' ') + e.source : word;
}

QString CHMessageModel::OriginText(const CHJournalEntry& e) {
    const QString text = QString::fromLatin1(kOrigins[static_cast<std::size_t>(e.origin)].text);
    switch (e.origin) {
    case O::Peer: return text.arg(HostText(e));
    case O::Definition:
    case O::Script: return text.arg(e.source);
    case O::Fallback: return text.arg(e.stream()).arg(e.function());
    case O::User: return e.source.isEmpty() ? text : text + QStringLiteral(": definition '%1'").arg(e.source);
    default: return text;
    }
}

QString CHMessageModel::SmlText(const CHJournalEntry& e) {
    if (!e.hasHeader())
        return {};
    if (e.isControl())
        return QString::fromLatin1(controlName(e.sType()));
    CHScriptCodec codec;
    codec.SetMessage(e.bytes.data(), e.bytes.size());
    if (!codec.GetLastError().empty())
        return QStringLiteral("(does not decode: %1)").arg(TextFromBytes(codec.GetLastError()));
    return TextFromBytes(codec.GetSmlText());
}

QString CHMessageModel::HexText(const CHJournalEntry& e) {
    return QString::fromLatin1(toHex(e.bytes.data(), e.bytes.size()));
}

QString CHMessageModel::answeredBy(const CHJournalEntry& e) const {
    const CHJournalEntry* reply = e.replyId ? m_journal.Entry(e.replyId) : nullptr;
    if (!reply)
        return {};
    if (reply->origin == O::Fallback)
        return QStringLiteral("<b 0> (fallback)");
    return definitionOf(*reply);
}

QString CHMessageModel::cellText(const CHJournalEntry& e, int column) const {
    switch (column) {
    case Time: return QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("hh:mm:ss.zzz"));
    case Direction: return e.direction == CHJournalEntry::In ? QStringLiteral("\u2190 in") : QStringLiteral("\u2192 out");
    case Host: return HostText(e);
    case Message: return MessageText(e);
    case Device: // HSMS: the whole session id (65535 for control messages)
        return !e.hasHeader() ? QString() : QString::number(e.port == 1 ? (e.bytes[0] << 8) | e.bytes[1] : e.device());
    case System: return QStringLiteral("%1").arg(e.systemBytes(), 8, 16, QLatin1Char('0'));
    case Name: return e.origin == O::Peer ? answeredBy(e) : definitionOf(e);
    case Latency: return e.latencyUs < 0 ? QString() : QStringLiteral("%1 ms").arg(e.latencyUs / 1000.0, 0, 'f', 3);
    case Origin: return OriginWord(e);
    default: return {};
    }
}

QString CHMessageModel::description(const CHJournalEntry& e) const {
    QString text = e.direction == CHJournalEntry::In ? QStringLiteral("received ") : QStringLiteral("sent ");
    text += MessageText(e);
    if (e.origin != O::Peer)
        text += QStringLiteral(", ") + OriginText(e);
    if (e.primaryId)
        text += QStringLiteral(", reply to message %1").arg(e.primaryId);
    if (e.replyId) {
        text += QStringLiteral(", answered by message %1").arg(e.replyId);
        QString by = answeredBy(e);
        const CHJournalEntry* reply = m_journal.Entry(e.replyId);
        if (by.isEmpty() && reply && reply->origin == O::Script) // which handler answered
            by = OriginWord(*reply);
        if (!by.isEmpty())
            text += QStringLiteral(" (%1)").arg(by);
    }
    if (e.id == m_linked)
        text += QStringLiteral(", linked to the selected message");
    return text;
}

QVariant CHMessageModel::data(const QModelIndex& index, int role) const {
    const CHJournalEntry* e = index.isValid() ? EntryAt(index.row()) : nullptr;
    if (!e)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(*e, column);
    case Qt::AccessibleTextRole:
        if (column == Direction)
            return e->direction == CHJournalEntry::In ? QStringLiteral("received") : QStringLiteral("sent");
        return cellText(*e, column);
    case Qt::AccessibleDescriptionRole:
    case Qt::ToolTipRole:
        return description(*e);
    case Qt::ForegroundRole:
        if (column == Direction)
            return QBrush(e->direction == CHJournalEntry::In ? kInColour : kOutColour);
        return {};
    case Qt::BackgroundRole:
        if (e->id == m_linked)
            return QBrush(kLinkedBack);
        if (e->origin == O::Fallback)
            return QBrush(kFallbackBack);
        if (e->origin == O::S9)
            return QBrush(kS9Back);
        return {};
    default:
        return {};
    }
}

bool CHMessageModel::matches(const CHJournalEntry& e) const {
    if (m_filter.direction >= 0 && e.direction != m_filter.direction)
        return false;
    // "*" takes control messages too; any other pattern names data messages.
    if (m_pattern && (m_pattern->stream >= 0 || m_pattern->function >= 0) &&
        (e.isControl() || !m_pattern->Matches(e.stream(), e.function())))
        return false;
    if (!m_filter.host.isEmpty() && !HostText(e).contains(m_filter.host, Qt::CaseInsensitive))
        return false;
    // Decoding is the dear part: last, and only when asked for.
    return m_filter.text.isEmpty() || SmlText(e).contains(m_filter.text, Qt::CaseInsensitive);
}

CHMessageJournal::Match CHMessageModel::matcher() const {
    if (!m_patternValid)
        return [](const CHJournalEntry&) { return false; };
    return [this](const CHJournalEntry& e) { return matches(e); };
}

void CHMessageModel::SetFilter(const Filter& filter) {
    m_filter = filter;
    const QString pattern = filter.pattern.trimmed();
    m_pattern = pattern.isEmpty() ? std::nullopt : CHMessagePattern::Parse(pattern);
    m_patternValid = pattern.isEmpty() || m_pattern.has_value();
    // Paused, the rows stay those recorded when the pause began.
    const quint64 upTo = m_paused ? m_seen : m_journal.LastId();
    const CHMessageJournal::Match match = matcher();
    beginResetModel();
    m_ids.clear();
    for (const CHJournalEntry* e : m_journal.Find(0, [&](const CHJournalEntry& e) { return e.id <= upTo && match(e); }))
        m_ids.push_back(e->id);
    m_seen = upTo;
    endResetModel();
    Q_EMIT CountChanged(static_cast<int>(m_ids.size()), static_cast<int>(m_journal.Size()));
}

void CHMessageModel::SetPaused(bool paused) {
    m_paused = paused;
    if (!paused)
        CatchUp();
}

void CHMessageModel::dropGone() {
    const auto gone = std::lower_bound(m_ids.begin(), m_ids.end(), m_journal.FirstId());
    if (gone == m_ids.begin())
        return;
    beginRemoveRows({}, 0, static_cast<int>(gone - m_ids.begin()) - 1);
    m_ids.erase(m_ids.begin(), gone);
    endRemoveRows();
}

void CHMessageModel::CatchUp() {
    dropGone();
    if (!m_paused) {
        const auto found = m_journal.Find(m_seen, matcher());
        m_seen = m_journal.LastId();
        if (!found.empty()) {
            const int first = static_cast<int>(m_ids.size());
            beginInsertRows({}, first, first + static_cast<int>(found.size()) - 1);
            for (const CHJournalEntry* e : found)
                m_ids.push_back(e->id);
            endInsertRows();
            // Replies just arrived name, link and time rows already shown.
            if (first > 0)
                Q_EMIT dataChanged(index(0, Name), index(first - 1, Name));
        }
    }
    Q_EMIT CountChanged(static_cast<int>(m_ids.size()), static_cast<int>(m_journal.Size()));
}

void CHMessageModel::SetSelectedId(quint64 id) {
    const quint64 before = m_linked;
    const CHJournalEntry* e = m_journal.Entry(id);
    m_linked = e ? (e->primaryId ? e->primaryId : e->replyId) : 0;
    for (const quint64 changed : {before, m_linked}) {
        const int row = changed ? RowOf(changed) : -1;
        if (row >= 0)
            Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
}

} // namespace tovik
