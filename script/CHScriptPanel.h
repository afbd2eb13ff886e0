#pragma once
// The operator panel a script describes with tovik.panel: sections of items
// (values, buttons, choices, toggles, text entries, tables) as plain JSON,
// their current values, and a way in for a user, whether through the window
// or another front end: Act does what a click or an edit does. The handlers
// stay in the script; Act reaches them through the handler the engine sets.
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tovik {

class CHScriptPanel : public QObject {
    Q_OBJECT
public:
    // The script's part of an action: the item's id and the value the
    // handler gets ({row, column, value} for a table cell, null for a button).
    using Handler = std::function<void(const QString& id, const QJsonValue& value)>;

    // How long a reader that asked once (the control API) counts as watching.
    static constexpr std::chrono::milliseconds kReadHold{10000};

    explicit CHScriptPanel(QObject* parent = nullptr);
    void SetHandler(Handler handler) { m_handler = std::move(handler); }

    // {title, sections: [{title, items: [{id, type, label, value...}]}]};
    // empty without a panel.
    const QJsonObject& Current() const { return m_panel; }
    QJsonObject Item(const QString& id) const;
    // Replaces the panel; an empty object removes it. The reason when the
    // definition is not one (an item without id, an id twice, an unknown type).
    QString Define(const QJsonObject& panel);
    // tovik.panel.set: a new value (all rows for a table); false for an unknown id.
    bool Set(const QString& id, const QJsonValue& value);
    // Press, choose, enter, edit: the value is taken where the item keeps
    // one, then the handler runs. The reason when the item cannot take it.
    QString Act(const QString& id, const QJsonValue& value);

    // Whether anyone reads the panel: a front end that shows it (Watch, one
    // call with true and one with false per front end) or a reader that asked
    // for it within kReadHold (Read). A script draws its panel only then.
    bool Watched() const { return m_watchers > 0 || m_readHold.isActive(); }
    void Watch(bool on);
    // Before a one-off read: WatchedChanged(true) goes out first when nobody
    // watched, so the script draws what the reader gets.
    void Read();

Q_SIGNALS:
    void Replaced();
    void ValueChanged(const QString& id);
    void WatchedChanged(bool watched);

private:
    bool locate(const QString& id, int& section, int& index) const;
    void store(int section, int index, const QJsonObject& item);

    void watchedMayHaveChanged(bool before);

    QJsonObject m_panel;
    Handler m_handler;
    int m_watchers = 0;
    QTimer m_readHold;
};

} // namespace tovik
