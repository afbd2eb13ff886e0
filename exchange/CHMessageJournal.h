#pragma once
// The message journal: every data and control message the engine sent or
// received, newest last, each with a rising id, its time, direction, port,
// peer and bytes (10-byte header, then the body). Capped: the oldest entry
// goes first. Views and the control API read it; it knows nothing of how
// they show it.
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

namespace tovik {

struct CHJournalEntry {
    enum Direction { In = 0, Out = 1 };
    // What made a message: the peer for everything received; for what
    // Tovik sent, the part of the program that chose it.
    enum class Origin : std::uint8_t {
        Peer,       // received
        Definition, // the document's one definition for the reply
        Script,     // the reply script (source: file and handler pattern)
        Fallback,   // <b 0>: the document has no definition for the reply
        S9,         // an error report: device id, T3
        User,       // the Send command, the control API, the message view
        Control,    // an HSMS control answer or request
        Relay,      // passed on by the bridge
        Fault,      // a fault rule's reply
        Program,    // anything else Tovik sends of its own accord
    };
    quint64 id = 0;
    qint64 timeMs = 0; // milliseconds since the epoch
    Direction direction = In;
    int port = 0; // 0 SECS-I, 1 HSMS, as the engine numbers them
    QString peer;
    std::vector<std::uint8_t> bytes; // header then body
    Origin origin = Origin::Peer;
    // The definition's name, or the script's file and handler pattern:
    // shared with whoever holds it, not built per message.
    QString source = {};
    // A reply's primary and a primary's reply (0: none seen), found by the
    // system bytes on the same port and peer; the latency in microseconds.
    quint64 primaryId = 0;
    quint64 replyId = 0;
    qint64 latencyUs = -1;
    qint64 steadyUs = 0; // monotonic, for latencies

    bool hasHeader() const { return bytes.size() >= 10; }
    int stream() const { return hasHeader() ? bytes[2] & 0x7f : 0; }
    int function() const { return hasHeader() ? bytes[3] : 0; }
    bool wbit() const { return hasHeader() && (bytes[2] & 0x80) != 0; }
    bool isControl() const { return sType() != 0; }
    // A data primary expecting a reply, or a control request.
    bool expectsReply() const { return isControl() ? (sType() & 1) != 0 : wbit() && (function() & 1) != 0; }
    bool isReply() const {
        return isControl() ? (sType() & 1) == 0 : (function() & 1) == 0; // SxF0 aborts a transaction
    }
    // The session id of HSMS, the device id of SECS-I, with the R-bit cleared.
    int device() const { return hasHeader() ? ((bytes[0] & 0x7f) << 8) | bytes[1] : 0; }
    int sType() const { return hasHeader() ? bytes[5] : 0; }
    quint32 systemBytes() const {
        return hasHeader() ? (quint32{bytes[6]} << 24) | (quint32{bytes[7]} << 16) |
                                 (quint32{bytes[8]} << 8) | quint32{bytes[9]}
                           : 0;
    }
};

class CHMessageJournal : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultCap = 10000;
    using Match = std::function<bool(const CHJournalEntry&)>;

    explicit CHMessageJournal(QObject* parent = nullptr) : QObject(parent) {}

    // At least 1; fewer entries than kept now drops the oldest at once.
    void SetCap(int entries);
    int Cap() const { return m_cap; }

    // Off by default: a program without a reader keeps no copy of what
    // passes (a 16 MiB message would stay in memory). Readers switch it on.
    void SetRecording(bool on) { m_recording = on; }
    bool Recording() const { return m_recording; }

    // The entry made, or null while not recording.
    const CHJournalEntry* Append(CHJournalEntry::Direction direction, int port, const QString& peer,
                                 const std::uint8_t* bytes, std::size_t size,
                                 CHJournalEntry::Origin origin = CHJournalEntry::Origin::Peer,
                                 const QString& source = {});
    // Another journal's entry as it is, id and links included, for a copy
    // kept on another thread; ids must follow on from the last one kept.
    const CHJournalEntry& Keep(CHJournalEntry entry);
    // The entry of that id while it is kept, else null.
    const CHJournalEntry* Entry(quint64 id) const {
        if (m_entries.empty() || id < m_entries.front().id || id > m_entries.back().id)
            return nullptr;
        return &m_entries[static_cast<std::size_t>(id - m_entries.front().id)];
    }
    quint64 FirstId() const { return m_entries.empty() ? m_nextId : m_entries.front().id; }
    // Empties the journal; ids keep rising and the totals keep counting.
    void Clear();

    // Entries with an id above `since` that `match` takes (all without one),
    // oldest first, at most `limit` of them (0: no limit).
    std::vector<const CHJournalEntry*> Find(quint64 since, const Match& match, std::size_t limit = 0) const;
    std::size_t Count(quint64 since, const Match& match) const;
    std::size_t Size() const { return m_entries.size(); }
    quint64 LastId() const { return m_nextId - 1; }

    // Messages ever journalled each way, also those dropped or cleared away.
    quint64 TotalIn() const { return m_totals[0]; }
    quint64 TotalOut() const { return m_totals[1]; }
    // Data messages sent as replies (even function, not stream 0).
    quint64 RepliesSent() const { return m_replies; }

Q_SIGNALS:
    void Appended(const tovik::CHJournalEntry& entry);
    void Cleared();

private:
    void link(CHJournalEntry& e);

    struct Open {
        quint64 id;
        qint64 steadyUs;
    };
    std::deque<CHJournalEntry> m_entries;
    // Primaries awaiting their reply, by port, peer, direction and system bytes.
    std::unordered_map<quint64, Open> m_open;
    int m_cap = kDefaultCap;
    bool m_recording = false;
    quint64 m_nextId = 1;
    quint64 m_totals[2] = {0, 0};
    quint64 m_replies = 0;
};

} // namespace tovik
