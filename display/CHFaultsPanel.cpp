#include "CHFaultsPanel.h"

#include "CHFaultRules.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tovik {

namespace {
enum Column { ColRule, ColMatch, ColAction, ColFired, ColDetails };
// The keys shown in columns of their own; the rest go to Details.
const char* const kShown[] = {"id", "match", "action", "fired", "enabled"};
} // namespace

CHFaultsPanel::CHFaultsPanel(CHFaultRules& rules, QWidget* parent) : QDialog(parent), m_rules(rules) {
    setWindowTitle(QStringLiteral("Faults"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Rules in the order they are consulted; "
                                                "clear a box to switch a rule off."),
                                 this));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Rule"), QStringLiteral("Match"), QStringLiteral("Action"),
                             QStringLiteral("Fired"), QStringLiteral("Details")});
    m_list->header()->setStretchLastSection(true);
    layout->addWidget(m_list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(560, 300);

    // Every fired rule says so: the list follows at a human pace.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(250);
    connect(&m_refresh, &QTimer::timeout, this, &CHFaultsPanel::Refresh);
    connect(&m_rules, &CHFaultRules::Changed, this, [this] {
        if (isVisible() && !m_refresh.isActive())
            m_refresh.start();
    });
    connect(m_list, &QTreeWidget::itemChanged, this, &CHFaultsPanel::onItemChanged);
    Refresh();
}

void CHFaultsPanel::Refresh() {
    m_filling = true;
    m_list->clear();
    for (const QJsonValue& v : m_rules.list()) {
        QJsonObject rule = v.toObject();
        auto* item = new QTreeWidgetItem(m_list);
        const int id = rule.value(QLatin1String("id")).toInt();
        item->setData(ColRule, Qt::UserRole, id);
        item->setText(ColRule, QString::number(id));
        item->setCheckState(ColRule, rule.value(QLatin1String("enabled")).toBool() ? Qt::Checked : Qt::Unchecked);
        item->setText(ColMatch, rule.value(QLatin1String("send")).toBool()
                                    ? QStringLiteral("send ") + rule.value(QLatin1String("match")).toString()
                                    : rule.value(QLatin1String("match")).toString());
        item->setText(ColAction, rule.value(QLatin1String("action")).toString());
        item->setText(ColFired, QString::number(rule.value(QLatin1String("fired")).toDouble(), 'f', 0));
        for (const char* key : kShown)
            rule.remove(QLatin1String(key));
        rule.remove(QLatin1String("send"));
        item->setText(ColDetails, QString::fromUtf8(QJsonDocument(rule).toJson(QJsonDocument::Compact)));
    }
    m_filling = false;
}

void CHFaultsPanel::onItemChanged(QTreeWidgetItem* item, int column) {
    if (m_filling || column != ColRule)
        return;
    m_rules.setEnabled(item->data(ColRule, Qt::UserRole).toInt(), item->checkState(ColRule) == Qt::Checked);
}

} // namespace tovik
