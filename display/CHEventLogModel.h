#pragma once
// A list model over the event log store, one row per line. Follows every
// change of the store as it happens, so views keep their selection and
// scroll position by the ordinary row signals.
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

private:
    CHEventLog& m_log;
};

} // namespace tovik
