#pragma once
// The JSON shapes of the control API: a journal entry and the status.
#include <QByteArray>
#include <QJsonObject>

#include <map>
#include <vector>

namespace tovik {

struct CHJournalEntry;
class CHScriptEngine;
class CTovikarView;

// An entry as compact JSON text: id, time (ISO 8601, ms, UTC), direction,
// port, peer, s, f, w, device, systemBytes, sType, sml, hex and the body's
// item tree. Written directly, byte for byte as QJsonDocument would write
// it (keys in order), since every message passing costs one.
QByteArray JournalEntryText(const CHJournalEntry& entry);
// {"line":...,"type":"log"}, the event stream's message for a log line.
QByteArray LogLineText(QStringView line);
QJsonObject StatusJson(CTovikarView& view, const CHScriptEngine* script);

class CHMessageJournal;

// The compact text of JournalEntryJson, made the first time a reader needs
// it and then shared: the poller, the waiters and every WebSocket client of
// an entry cost one decode between them. An id names one entry for good (ids
// keep rising past a clear), so a kept text is never stale; only as many are
// kept as the journal keeps entries.
class CHEntryTextCache {
public:
    explicit CHEntryTextCache(const CHMessageJournal& journal) : m_journal(journal) {}
    QByteArray Text(const CHJournalEntry& entry);
    // "[text,text,...]" of the entries, as a JSON array.
    QByteArray ArrayText(const std::vector<const CHJournalEntry*>& entries);

private:
    const CHMessageJournal& m_journal;
    std::map<quint64, QByteArray> m_texts;
};

} // namespace tovik
