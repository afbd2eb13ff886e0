#pragma once
// A list model over the event log store, one row per line. The store takes
// lines at the engine's rate; the model gathers its changes and applies them
// to the views at most once per display frame (one removal at the front and
// one insertion at the end, or once the log is full one shift of all rows),
// so a flood of messages costs the view one repaint per frame, not one per
// message, and the engine never waits for the screen.
#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QTimer>

namespace tovik {

class CHEventLog;

class CHEventLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The shortest time between two catch-ups: one frame of a 60 Hz display.
    static constexpr int kFrameMs = 16;

    explicit CHEventLogModel(CHEventLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    CHEventLog& Log() const { return m_log; }
    // The store's line shown in a row (-1 when that line is already gone).
    int StoreRow(int row) const;
    // Catches up with the store now. It also runs by itself: at the next pass
    // of the event loop after a quiet frame, else one frame after the last.
    void Sync();
    // Whether the store has changes the views do not show yet.
    bool Pending() const { return m_dirty; }

Q_SIGNALS:
    void aboutToSync();
    // Once the log is full a catch-up keeps the number of rows: every row
    // shows the line `lines` further on. The model's one view (the log's
    // list) repaints its rows and moves its selection up with them. This
    // stands for dataChanged over all rows, which would make the list lay
    // all 4000 rows out again at every frame.
    void shifted(int lines);
    // After a sync that changed rows; the selection is up to the views.
    void synced();

private:
    void post();

    CHEventLog& m_log;
    int m_rows = 0;        // rows the views know of
    int m_dropPending = 0; // front lines gone from the store since the last sync
    bool m_resetPending = false;
    bool m_dirty = false;
    QTimer m_frame;
    QElapsedTimer m_sinceSync;
};

} // namespace tovik
