#pragma once
// A list model over the event log store, one row per line. It gathers the
// store's changes and applies them to its views once per pass of the event
// loop (one removal at the front, one insertion at the end), so a burst of
// thousands of lines costs the views one update, not one per line.
#include <QAbstractListModel>

namespace tovik {

class CHEventLog;

class CHEventLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CHEventLogModel(CHEventLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    CHEventLog& Log() const { return m_log; }
    // The store's line shown in a row (-1 when that line is already gone).
    int StoreRow(int row) const;
    // Catches up with the store now (also runs by itself once per pass).
    void Sync();

Q_SIGNALS:
    void aboutToSync();
    // After a sync that changed rows; the selection is up to the views.
    void synced();

private:
    void post();

    CHEventLog& m_log;
    int m_rows = 0;        // rows the views know of
    int m_dropPending = 0; // front lines gone from the store since the last sync
    bool m_resetPending = false;
    bool m_dirty = false;
    bool m_posted = false;
};

} // namespace tovik
