#include "CHEventLogModel.h"

#include "CHEventLog.h"

namespace tovik {

CHEventLogModel::CHEventLogModel(CHEventLog& log, QObject* parent) : QAbstractListModel(parent), m_log(log) {
    connect(&log, &CHEventLog::aboutToDropFront, this, [this](int n) { beginRemoveRows({}, 0, n - 1); });
    connect(&log, &CHEventLog::droppedFront, this, [this] { endRemoveRows(); });
    connect(&log, &CHEventLog::aboutToAppend, this, [this](int n) {
        const int first = m_log.Count();
        beginInsertRows({}, first, first + n - 1);
    });
    connect(&log, &CHEventLog::appended, this, [this] { endInsertRows(); });
    connect(&log, &CHEventLog::aboutToReset, this, [this] { beginResetModel(); });
    connect(&log, &CHEventLog::wasReset, this, [this] { endResetModel(); });
}

int CHEventLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_log.Count();
}

QVariant CHEventLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_log.Count())
        return {};
    if (role == Qt::DisplayRole)
        return m_log.Line(index.row());
    return {};
}

} // namespace tovik
