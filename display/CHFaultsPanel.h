#pragma once
// Tools > Faults: the fault rules in force, in the order they are consulted,
// with how often each fired; a rule's check box switches it off and on.
#include <QDialog>
#include <QTimer>

class QTreeWidget;
class QTreeWidgetItem;

namespace tovik {

class CHFaultRules;

class CHFaultsPanel : public QDialog {
    Q_OBJECT
public:
    explicit CHFaultsPanel(CHFaultRules& rules, QWidget* parent = nullptr);
    QTreeWidget* List() const { return m_list; }
    // Rebuilds the list from the rules now (it follows them by itself, at
    // most a few times a second).
    void Refresh();

private:
    void onItemChanged(QTreeWidgetItem* item, int column);

    CHFaultRules& m_rules;
    QTreeWidget* m_list = nullptr;
    QTimer m_refresh;
    bool m_filling = false;
};

} // namespace tovik
