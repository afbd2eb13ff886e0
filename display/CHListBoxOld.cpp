#include "CHListBoxOld.h"

#include "CHEventLog.h"
#include "CHEventLogModel.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>

#include <algorithm>

namespace tovik {

CHListBoxOld::CHListBoxOld(CHEventLog& log, QWidget* parent)
    : QListView(parent), m_log(log), m_model(new CHEventLogModel(log, this)), m_findBox(new QLineEdit(this)) {
    setModel(m_model);
    // All rows are one line of one font: lets the view skip measuring 4000 rows.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setLayoutMode(QListView::SinglePass);

    m_findBox->setPlaceholderText(QStringLiteral("Find"));
    m_findBox->setClearButtonEnabled(true);
    m_findBox->hide();
    connect(m_findBox, &QLineEdit::returnPressed, this, [this] {
        const bool back = QGuiApplication::keyboardModifiers().testFlag(Qt::ShiftModifier);
        const bool found = FindNext(m_findBox->text(), back);
        QPalette pal = m_findBox->palette();
        pal.setColor(QPalette::Base, found || m_findBox->text().isEmpty() ? palette().color(QPalette::Base)
                                                                          : QColor(255, 200, 200));
        m_findBox->setPalette(pal);
    });

    auto* hideFind = new QAction(m_findBox);
    hideFind->setShortcut(Qt::Key_Escape);
    hideFind->setShortcutContext(Qt::WidgetShortcut);
    m_findBox->addAction(hideFind);
    connect(hideFind, &QAction::triggered, this, [this] {
        m_findBox->hide();
        setFocus();
    });

    connect(&log, &CHEventLog::aboutToAddText, this, &CHListBoxOld::beforeText);
    connect(&log, &CHEventLog::textAdded, this, &CHListBoxOld::afterText);
}

int CHListBoxOld::SelectedLine() const {
    const QModelIndex cur = currentIndex();
    if (cur.isValid() && selectionModel()->isSelected(cur))
        return cur.row();
    return -1;
}

void CHListBoxOld::SelectLine(int row) {
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
    postScroll();
}

void CHListBoxOld::beforeText() {
    m_selBefore = SelectedLine();
    m_countBefore = m_log.Count();
}

void CHListBoxOld::afterText(int previousCount, int lineCount) {
    Q_UNUSED(previousCount);
    const int s = m_selBefore;
    const int total = m_countBefore + lineCount;
    if (s + 1 == m_countBefore) {
        // The newest line was selected (or the log was empty): follow the tail.
        SelectLine(m_log.Count() - 1);
    } else if (total <= CHEventLog::kMaxLines || s >= total - CHEventLog::kMaxLines) {
        // The same line, already moved up by the rows the trim removed; a
        // user's wider selection stays as it is.
        if (s >= 0)
            postScroll();
    } else {
        SelectLine(0); // the selected line was trimmed away
    }
}

// Scrolling asks the view for a layout; once per pass of the event loop is
// enough however many texts arrived in it.
void CHListBoxOld::postScroll() {
    if (m_scrollPosted)
        return;
    m_scrollPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_scrollPosted = false;
            const int row = SelectedLine();
            if (row >= 0)
                scrollTo(m_model->index(row), QAbstractItemView::EnsureVisible);
        },
        Qt::QueuedConnection);
}

QString CHListBoxOld::SelectedText() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    lines.reserve(rows.size());
    for (const QModelIndex& i : std::as_const(rows))
        lines.append(m_log.Line(i.row()));
    return lines.join(QLatin1Char('\n'));
}

void CHListBoxOld::CopySelection() const {
    const QString text = SelectedText();
    if (!text.isEmpty() || SelectedLine() >= 0)
        QGuiApplication::clipboard()->setText(text);
}

bool CHListBoxOld::FindNext(const QString& text, bool backwards) {
    const int n = m_log.Count();
    if (text.isEmpty() || n == 0)
        return false;
    const int start = SelectedLine();
    for (int step = 1; step <= n; ++step) {
        int row = backwards ? start - step : start + step;
        row = ((row % n) + n) % n;
        if (m_log.Line(row).contains(text, Qt::CaseInsensitive)) {
            SelectLine(row);
            return true;
        }
    }
    return false;
}

void CHListBoxOld::ShowFindBox() {
    placeFindBox();
    m_findBox->show();
    m_findBox->raise();
    m_findBox->setFocus();
    m_findBox->selectAll();
}

void CHListBoxOld::placeFindBox() {
    const int w = std::min(width() / 2, fontMetrics().horizontalAdvance(QLatin1Char('x')) * 30);
    const int h = m_findBox->sizeHint().height();
    const int sb = verticalScrollBar()->isVisible() ? verticalScrollBar()->width() : 0;
    m_findBox->setGeometry(width() - w - sb - 2, 2, w, h);
}

void CHListBoxOld::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    if (m_findBox->isVisible())
        placeFindBox();
}

void CHListBoxOld::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Find)) {
        ShowFindBox();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        return;
    }
    if (event->key() == Qt::Key_Escape && m_findBox->isVisible()) {
        m_findBox->hide();
        setFocus();
        return;
    }
    if (event->matches(QKeySequence::FindNext) && !m_findBox->text().isEmpty()) {
        FindNext(m_findBox->text());
        return;
    }
    QListView::keyPressEvent(event);
}

void CHListBoxOld::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"), this, &CHListBoxOld::CopySelection);
    copy->setEnabled(SelectedLine() >= 0 || selectionModel()->hasSelection());
    menu.addAction(QStringLiteral("&Find...\tCtrl+F"), this, &CHListBoxOld::ShowFindBox);
    menu.addSeparator();
    QAction* clear = menu.addAction(QStringLiteral("C&lear"), this, [this] { m_log.AddText(QString()); });
    clear->setEnabled(m_log.Count() > 0);
    menu.exec(event->globalPos());
}

} // namespace tovik
