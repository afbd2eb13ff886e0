#include "CHMessageJournal.h"

#include <QDateTime>

#include <algorithm>

namespace tovik {

void CHMessageJournal::SetCap(int entries) {
    m_cap = std::max(entries, 1);
    while (m_entries.size() > static_cast<std::size_t>(m_cap))
        m_entries.pop_front();
}

const CHJournalEntry* CHMessageJournal::Append(CHJournalEntry::Direction direction, int port,
                                                const QString& peer, const std::uint8_t* bytes,
                                                std::size_t size) {
    if (!m_recording)
        return nullptr;
    if (m_entries.size() >= static_cast<std::size_t>(m_cap))
        m_entries.pop_front();
    CHJournalEntry& e = m_entries.emplace_back();
    e.id = m_nextId++;
    e.timeMs = QDateTime::currentMSecsSinceEpoch();
    e.direction = direction;
    e.port = port;
    e.peer = peer;
    e.bytes.assign(bytes, bytes + size);
    ++m_totals[direction];
    if (direction == CHJournalEntry::Out && e.stream() != 0 && e.sType() == 0 && e.function() % 2 == 0)
        ++m_replies;
    Q_EMIT Appended(e);
    return &e;
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
