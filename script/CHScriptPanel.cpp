#include "CHScriptPanel.h"

#include <QSet>

namespace tovik {

namespace {

const QSet<QString>& types() {
    static const QSet<QString> known{QStringLiteral("value"),  QStringLiteral("button"),
                                     QStringLiteral("choice"), QStringLiteral("toggle"),
                                     QStringLiteral("text"),   QStringLiteral("table")};
    return known;
}

QJsonArray sections(const QJsonObject& panel) {
    return panel.value(QStringLiteral("sections")).toArray();
}

bool columnEditable(const QJsonObject& item, int column) {
    const QJsonValue editable = item.value(QStringLiteral("editable"));
    if (editable.isBool())
        return editable.toBool();
    return editable.toArray().contains(QJsonValue(column));
}

} // namespace

CHScriptPanel::CHScriptPanel(QObject* parent) : QObject(parent) {
    m_readHold.setSingleShot(true);
    m_readHold.setInterval(kReadHold);
    connect(&m_readHold, &QTimer::timeout, this, [this] { watchedMayHaveChanged(true); });
}

void CHScriptPanel::watchedMayHaveChanged(bool before) {
    if (Watched() != before)
        Q_EMIT WatchedChanged(!before);
}

void CHScriptPanel::Watch(bool on) {
    const bool before = Watched();
    m_watchers += on ? 1 : -1;
    watchedMayHaveChanged(before);
}

void CHScriptPanel::Read() {
    const bool before = Watched();
    m_readHold.start();
    watchedMayHaveChanged(before);
}

QString CHScriptPanel::Define(const QJsonObject& panel) {
    QSet<QString> ids;
    for (const QJsonValue& section : sections(panel)) {
        for (const QJsonValue& v : section.toObject().value(QStringLiteral("items")).toArray()) {
            const QJsonObject item = v.toObject();
            const QString id = item.value(QStringLiteral("id")).toString();
            const QString type = item.value(QStringLiteral("type")).toString();
            if (id.isEmpty())
                return QStringLiteral("an item without an id");
            if (ids.contains(id))
                return QStringLiteral("the id \"%1\" twice").arg(id);
            if (!types().contains(type))
                return QStringLiteral("\"%1\" has the unknown type \"%2\"").arg(id, type);
            ids.insert(id);
        }
    }
    m_panel = panel;
    Q_EMIT Replaced();
    return {};
}

bool CHScriptPanel::locate(const QString& id, int& section, int& index) const {
    const QJsonArray all = sections(m_panel);
    for (section = 0; section < all.size(); ++section) {
        const QJsonArray items = all[section].toObject().value(QStringLiteral("items")).toArray();
        for (index = 0; index < items.size(); ++index)
            if (items[index].toObject().value(QStringLiteral("id")).toString() == id)
                return true;
    }
    return false;
}

QJsonObject CHScriptPanel::Item(const QString& id) const {
    int s = 0, i = 0;
    if (!locate(id, s, i))
        return {};
    return sections(m_panel)[s].toObject().value(QStringLiteral("items")).toArray()[i].toObject();
}

void CHScriptPanel::store(int section, int index, const QJsonObject& item) {
    QJsonArray all = sections(m_panel);
    QJsonObject s = all[section].toObject();
    QJsonArray items = s.value(QStringLiteral("items")).toArray();
    items[index] = item;
    s[QStringLiteral("items")] = items;
    all[section] = s;
    m_panel[QStringLiteral("sections")] = all;
    Q_EMIT ValueChanged(item.value(QStringLiteral("id")).toString());
}

bool CHScriptPanel::Set(const QString& id, const QJsonValue& value) {
    int s = 0, i = 0;
    if (!locate(id, s, i))
        return false;
    QJsonObject item = Item(id);
    item[item.value(QStringLiteral("type")).toString() == QLatin1String("table") ? QStringLiteral("rows")
                                                                                   : QStringLiteral("value")] = value;
    store(s, i, item);
    return true;
}

QString CHScriptPanel::Act(const QString& id, const QJsonValue& value) {
    int s = 0, i = 0;
    if (!locate(id, s, i))
        return QStringLiteral("no item \"%1\"").arg(id);
    const QJsonObject before = Item(id);
    QJsonObject item = before;
    const QString type = item.value(QStringLiteral("type")).toString();
    QJsonValue given = value;
    if (type == QLatin1String("value")) {
        if (!item.value(QStringLiteral("editable")).toBool())
            return QStringLiteral("\"%1\" cannot be edited").arg(id);
        if (item.value(QStringLiteral("value")).isDouble() && value.isString()) {
            bool ok = false;
            const double number = value.toString().trimmed().toDouble(&ok);
            if (!ok)
                return QStringLiteral("\"%1\" takes a number").arg(id);
            given = number;
        }
        item[QStringLiteral("value")] = given;
    } else if (type == QLatin1String("choice")) {
        if (!item.value(QStringLiteral("options")).toArray().contains(value))
            return QStringLiteral("\"%1\" has no such option").arg(id);
        item[QStringLiteral("value")] = value;
    } else if (type == QLatin1String("toggle")) {
        if (!value.isBool())
            return QStringLiteral("\"%1\" takes true or false").arg(id);
        item[QStringLiteral("value")] = value;
    } else if (type == QLatin1String("text")) {
        if (!value.isString())
            return QStringLiteral("\"%1\" takes text").arg(id);
    } else if (type == QLatin1String("table")) {
        const QJsonObject cell = value.toObject();
        const int row = cell.value(QStringLiteral("row")).toInt(-1);
        const int column = cell.value(QStringLiteral("column")).toInt(-1);
        QJsonArray rows = item.value(QStringLiteral("rows")).toArray();
        if (row < 0 || row >= rows.size() || column < 0 || column >= rows[row].toArray().size())
            return QStringLiteral("\"%1\" has no such cell").arg(id);
        if (!columnEditable(item, column))
            return QStringLiteral("\"%1\" cannot be edited there").arg(id);
        QJsonArray cells = rows[row].toArray();
        cells[column] = cell.value(QStringLiteral("value"));
        rows[row] = cells;
        item[QStringLiteral("rows")] = rows;
    }
    if (item != before)
        store(s, i, item);
    if (m_handler)
        m_handler(id, given);
    return {};
}

} // namespace tovik
