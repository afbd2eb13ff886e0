#pragma once
// The dock "Equipment": the panel the reply script describes, shown as
// widgets that follow its values at once. Each widget is named after its
// item's id; what the user does with one goes to the panel's Act, as it
// would from any other front end.
#include <QDockWidget>
#include <QHash>

class QWidget;

namespace tovik {

class CHScriptPanel;

class CHPanelDock : public QDockWidget {
    Q_OBJECT
public:
    explicit CHPanelDock(CHScriptPanel& panel, QWidget* parent = nullptr);
    ~CHPanelDock() override;

protected:
    bool event(QEvent* event) override;

private:
    void rebuild();
    void update(const QString& id);
    QWidget* makeItem(const QJsonObject& item);
    void act(const QString& id, const QJsonValue& value);

    CHScriptPanel& m_panel;
    QHash<QString, QWidget*> m_widgets; // item id -> its widget
    bool m_filling = false;            // values from the panel are not edits
    bool m_watching = false;           // shown: the script keeps the panel current
};

} // namespace tovik
