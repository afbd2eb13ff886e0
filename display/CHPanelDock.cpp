#include "CHPanelDock.h"

#include "CHScriptPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tovik {

namespace {

QString text(const QJsonValue& v) {
    if (v.isDouble())
        return QString::number(v.toDouble());
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isNull() || v.isUndefined())
        return {};
    return v.toString();
}

bool columnEditable(const QJsonObject& item, int column) {
    const QJsonValue editable = item.value(QStringLiteral("editable"));
    return editable.isBool() ? editable.toBool() : editable.toArray().contains(QJsonValue(column));
}

} // namespace

CHPanelDock::CHPanelDock(CHScriptPanel& panel, QWidget* parent)
    : QDockWidget(QStringLiteral("Equipment"), parent), m_panel(panel) {
    setObjectName(QStringLiteral("EquipmentDock"));
    connect(&m_panel, &CHScriptPanel::Replaced, this, &CHPanelDock::rebuild);
    connect(&m_panel, &CHScriptPanel::ValueChanged, this, &CHPanelDock::update);
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible != m_watching) {
            m_watching = visible;
            m_panel.Watch(visible);
        }
    });
    rebuild();
}

CHPanelDock::~CHPanelDock() {
    if (m_watching)
        m_panel.Watch(false);
}

bool CHPanelDock::event(QEvent* event) {
    // Plain keys typed in the panel are its own: Enter ends an entry here
    // instead of sending the selected message.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return QDockWidget::event(event);
}

void CHPanelDock::act(const QString& id, const QJsonValue& value) {
    if (m_filling)
        return;
    const QString problem = m_panel.Act(id, value);
    if (!problem.isEmpty())
        update(id); // back to what the panel holds
}

void CHPanelDock::rebuild() {
    m_widgets.clear();
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    auto* inside = new QWidget;
    auto* column = new QVBoxLayout(inside);
    const QJsonObject panel = m_panel.Current();
    if (panel.isEmpty())
        column->addWidget(new QLabel(QStringLiteral("The reply script shows no panel.")));
    for (const QJsonValue& s : panel.value(QStringLiteral("sections")).toArray()) {
        const QJsonObject section = s.toObject();
        auto* box = new QGroupBox(section.value(QStringLiteral("title")).toString());
        auto* form = new QFormLayout(box);
        for (const QJsonValue& v : section.value(QStringLiteral("items")).toArray()) {
            const QJsonObject item = v.toObject();
            QWidget* w = makeItem(item);
            const QString id = item.value(QStringLiteral("id")).toString();
            w->setObjectName(id);
            m_widgets.insert(id, w);
            QString label = item.value(QStringLiteral("label")).toString();
            const QString unit = item.value(QStringLiteral("unit")).toString();
            if (!unit.isEmpty())
                label += QStringLiteral(" (%1)").arg(unit);
            if (item.value(QStringLiteral("type")).toString() == QLatin1String("button") || label.isEmpty())
                form->addRow(w);
            else
                form->addRow(label, w);
            update(id);
        }
        column->addWidget(box);
    }
    column->addStretch(1);
    scroll->setWidget(inside);
    setWidget(scroll); // the old content goes with its widget
}

QWidget* CHPanelDock::makeItem(const QJsonObject& item) {
    const QString id = item.value(QStringLiteral("id")).toString();
    const QString type = item.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("button")) {
        auto* b = new QPushButton(item.value(QStringLiteral("label")).toString());
        connect(b, &QPushButton::clicked, this, [this, id] { act(id, QJsonValue()); });
        return b;
    }
    if (type == QLatin1String("choice")) {
        auto* c = new QComboBox;
        for (const QJsonValue& o : item.value(QStringLiteral("options")).toArray())
            c->addItem(text(o), o.toVariant());
        connect(c, &QComboBox::activated, this,
                [this, id, c](int index) { act(id, QJsonValue::fromVariant(c->itemData(index))); });
        return c;
    }
    if (type == QLatin1String("toggle")) {
        auto* t = new QCheckBox;
        connect(t, &QCheckBox::clicked, this, [this, id](bool on) { act(id, on); });
        return t;
    }
    if (type == QLatin1String("table")) {
        auto* t = new QTableWidget;
        QStringList headers;
        for (const QJsonValue& h : item.value(QStringLiteral("columns")).toArray())
            headers << text(h);
        t->setColumnCount(int(headers.size()));
        t->setHorizontalHeaderLabels(headers);
        t->verticalHeader()->hide();
        t->horizontalHeader()->setStretchLastSection(true);
        connect(t, &QTableWidget::itemChanged, this, [this, id](QTableWidgetItem* cell) {
            act(id, QJsonObject{{QStringLiteral("row"), cell->row()},
                                {QStringLiteral("column"), cell->column()},
                                {QStringLiteral("value"), cell->text()}});
        });
        return t;
    }
    const bool editable = type == QLatin1String("text") || item.value(QStringLiteral("editable")).toBool();
    if (!editable)
        return new QLabel;
    auto* e = new QLineEdit;
    if (type == QLatin1String("text")) {
        connect(e, &QLineEdit::returnPressed, this, [this, id, e] {
            const QString entered = e->text();
            e->clear();
            act(id, entered);
        });
    } else {
        // Enter, or leaving the field with a change in it.
        const auto edited = [this, id, e] {
            if (e->isModified()) {
                e->setModified(false);
                act(id, e->text());
            }
        };
        connect(e, &QLineEdit::returnPressed, this, edited);
        connect(e, &QLineEdit::editingFinished, this, edited);
    }
    return e;
}

void CHPanelDock::update(const QString& id) {
    QWidget* w = m_widgets.value(id);
    if (!w)
        return;
    const QJsonObject item = m_panel.Item(id);
    const QJsonValue value = item.value(QStringLiteral("value"));
    m_filling = true;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text(value));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (item.value(QStringLiteral("type")).toString() != QLatin1String("text"))
            edit->setText(text(value));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->setChecked(value.toBool());
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setCurrentIndex(combo->findData(value.toVariant()));
    } else if (auto* table = qobject_cast<QTableWidget*>(w)) {
        const QJsonArray rows = item.value(QStringLiteral("rows")).toArray();
        table->setRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r) {
            const QJsonArray cells = rows[r].toArray();
            for (int c = 0; c < table->columnCount(); ++c) {
                auto* cell = new QTableWidgetItem(text(cells.at(c)));
                if (!columnEditable(item, c))
                    cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);
                table->setItem(r, c, cell);
            }
        }
        table->resizeColumnsToContents();
        // Tall enough for its rows (up to a dozen; more scroll).
        const int shown = std::max(1, std::min(int(rows.size()), 12));
        table->setFixedHeight(table->horizontalHeader()->sizeHint().height() +
                              shown * table->verticalHeader()->defaultSectionSize() +
                              table->horizontalScrollBar()->sizeHint().height() + 2 * table->frameWidth());
    }
    m_filling = false;
}

} // namespace tovik
