#pragma once
// The message view's rows: the journal's entries that pass the filter,
// oldest first. New entries are taken in batches on a short timer, never a
// repaint per message; while paused none are taken, and Resume catches up.
// Entries the journal drops leave the top of the rows.
#include "CHMessageJournal.h"
#include "CHMessagePattern.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <optional>
#include <vector>

namespace tovik {

class CHMessageModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Direction, Host, Message, Device, System, Name, Latency, Origin, ColumnCount };
    static constexpr int kBatchMs = 100;

    struct Filter {
        QString pattern;    // S1F1, S6F*; empty: any
        int direction = -1; // -1 any, else a CHJournalEntry::Direction
        QString host;       // contained in the port and peer text
        QString text;       // contained in the SML text
    };

    explicit CHMessageModel(CHMessageJournal& journal, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A pattern that is no pattern matches nothing (PatternValid says so).
    void SetFilter(const Filter& filter);
    const Filter& GetFilter() const { return m_filter; }
    bool PatternValid() const { return m_patternValid; }
    void SetPaused(bool paused);
    bool Paused() const { return m_paused; }
    // Takes what the journal gained since the last batch (the timer does it otherwise).
    void CatchUp();

    const CHJournalEntry* EntryAt(int row) const;
    int RowOf(quint64 id) const; // -1 when not shown
    std::vector<const CHJournalEntry*> Entries() const;
    // Marks the row linked to the selected one: its reply or its primary.
    void SetSelectedId(quint64 id);
    quint64 LinkedId() const { return m_linked; }

    // Texts of an entry, shared with the detail pane.
    static QString MessageText(const CHJournalEntry& e); // "S1F1 W", "Select.req"
    static QString HostText(const CHJournalEntry& e);
    static QString OriginWord(const CHJournalEntry& e);
    static QString OriginText(const CHJournalEntry& e); // with the name it came from
    static QString SmlText(const CHJournalEntry& e);
    static QString HexText(const CHJournalEntry& e);

Q_SIGNALS:
    void CountChanged(int shown, int kept);

private:
    bool matches(const CHJournalEntry& e) const;
    CHMessageJournal::Match matcher() const;
    void dropGone();
    // What answered a primary, for its Name column: the definition's name
    // or the fallback mark; nothing for a script's or Tovik's other replies.
    QString answeredBy(const CHJournalEntry& e) const;
    QString description(const CHJournalEntry& e) const;
    QString cellText(const CHJournalEntry& e, int column) const;

    CHMessageJournal& m_journal;
    std::vector<quint64> m_ids;
    quint64 m_seen = 0; // the last journal id looked at
    Filter m_filter;
    std::optional<CHMessagePattern> m_pattern;
    bool m_patternValid = true;
    bool m_paused = false;
    QTimer m_batch;
    quint64 m_linked = 0;
};

} // namespace tovik
