#include "CHMessageJournal.h"

#include <QDateTime>
#include <QHashFunctions>

#include <algorithm>
#include <chrono>

namespace tovik {

void CHMessageJournal::SetCap(int entries) {
    m_cap = std::max(entries, 1);
    while (m_entries.size() > static_cast<std::size_t>(m_cap))
        m_entries.pop_front();
}

const CHJournalEntry* CHMessageJournal::Append(CHJournalEntry::Direction direction, int port,
                                                const QString& peer, const std::uint8_t* bytes,
                                                std::size_t size, CHJournalEntry::Origin origin,
                                                const QString& source) {
    if (!m_recording)
        return nullptr;
    if (m_entries.size() >= static_cast<std::size_t>(m_cap))
        m_entries.pop_front();
    CHJournalEntry& e = m_entries.emplace_back();
    e.id = m_nextId++;
    e.timeMs = QDateTime::currentMSecsSinceEpoch();
    e.steadyUs = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count();
    e.direction = direction;
    e.origin = origin;
    e.port = port;
    e.peer = peer;
    e.source = source;
    e.bytes.assign(bytes, bytes + size);
    link(e);
    ++m_totals[direction];
    if (direction == CHJournalEntry::Out && e.stream() != 0 && e.sType() == 0 && e.function() % 2 == 0)
        ++m_replies;
    Q_EMIT Appended(e);
    return &e;
}

const CHJournalEntry& CHMessageJournal::Keep(CHJournalEntry entry) {
    if (m_entries.size() >= static_cast<std::size_t>(m_cap))
        m_entries.pop_front();
    m_nextId = entry.id + 1;
    ++m_totals[entry.direction];
    return m_entries.emplace_back(std::move(entry));
}

void CHMessageJournal::link(CHJournalEntry& e) {
    if (!e.hasHeader())
        return;
    const bool primary = e.expectsReply();
    if (!primary && !e.isReply())
        return;
    // The primary went the other way; its key names its own direction.
    const int primaryDirection = primary ? e.direction : 1 - e.direction;
    const quint64 key = quint64{e.systemBytes()} ^
                        (quint64{qHash(e.peer, static_cast<size_t>(e.port * 2 + primaryDirection))} << 32);
    if (primary) {
        // Primaries nobody answers must not pile up.
        if (m_open.size() >= 65536)
            m_open.clear();
        m_open[key] = {e.id, e.steadyUs};
        return;
    }
    const auto it = m_open.find(key);
    if (it == m_open.end())
        return;
    e.primaryId = it->second.id;
    e.latencyUs = e.steadyUs - it->second.steadyUs;
    if (it->second.id >= m_entries.front().id) // the primary may have been dropped
        m_entries[static_cast<std::size_t>(it->second.id - m_entries.front().id)].replyId = e.id;
    m_open.erase(it);
}

void CHMessageJournal::Clear() {
    m_entries.clear();
    Q_EMIT Cleared();
}

std::vector<const CHJournalEntry*> CHMessageJournal::Find(quint64 since, const Match& match,
                                                          std::size_t limit) const {
    std::vector<const CHJournalEntry*> found;
    // Ids rise by one per entry: the first entry after `since` is found by arithmetic.
    auto it = m_entries.begin();
    if (!m_entries.empty() && since >= m_entries.front().id)
        it += static_cast<std::ptrdiff_t>(std::min<quint64>(since - m_entries.front().id + 1, m_entries.size()));
    for (; it != m_entries.end(); ++it) {
        if (match && !match(*it))
            continue;
        found.push_back(&*it);
        if (limit && found.size() == limit)
            break;
    }
    return found;
}

std::size_t CHMessageJournal::Count(quint64 since, const Match& match) const {
    return Find(since, match).size();
}

} // namespace tovik
