#include "CHEventLogModel.h"

#include "CHEventLog.h"

#include <algorithm>

namespace tovik {

CHEventLogModel::CHEventLogModel(CHEventLog& log, QObject* parent)
    : QAbstractListModel(parent), m_log(log), m_rows(log.Count()) {
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &CHEventLogModel::Sync);
    connect(&log, &CHEventLog::linesChanged, this, [this](int dropped, int) {
        if (!m_resetPending)
            m_dropPending += dropped;
        post();
    });
    connect(&log, &CHEventLog::wasReset, this, [this] {
        m_resetPending = true;
        m_dropPending = 0;
        post();
    });
}

// A line after a quiet spell shows at once; a flood shows once per frame.
void CHEventLogModel::post() {
    m_dirty = true;
    if (m_frame.isActive())
        return;
    const qint64 since = m_sinceSync.isValid() ? m_sinceSync.elapsed() : kFrameMs;
    m_frame.start(static_cast<int>(std::max<qint64>(0, kFrameMs - since)));
}

void CHEventLogModel::Sync() {
    m_frame.stop();
    if (!m_dirty)
        return;
    m_sinceSync.start();
    m_dirty = false;
    Q_EMIT aboutToSync();
    if (m_resetPending) {
        beginResetModel();
        m_resetPending = false;
        m_dropPending = 0;
        m_rows = m_log.Count();
        endResetModel();
    } else if (const int drop = std::min(m_dropPending, m_rows); drop > 0 && m_log.Count() == m_rows) {
        m_dropPending = 0;
        Q_EMIT shifted(drop);
    } else {
        if (drop > 0) {
            beginRemoveRows({}, 0, drop - 1);
            m_rows -= drop;
            m_dropPending = 0;
            endRemoveRows();
        }
        m_dropPending = 0;
        if (m_log.Count() > m_rows) {
            beginInsertRows({}, m_rows, m_log.Count() - 1);
            m_rows = m_log.Count();
            endInsertRows();
        }
    }
    Q_EMIT synced();
}

int CHEventLogModel::StoreRow(int row) const {
    if (m_resetPending)
        return -1;
    const int r = row - m_dropPending;
    return r >= 0 && r < m_log.Count() ? r : -1;
}

int CHEventLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

QVariant CHEventLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    const int r = StoreRow(index.row());
    return r >= 0 ? QVariant(m_log.Line(r)) : QVariant(QString());
}

} // namespace tovik
