#include "CHListBoxOld.h"

#include "CHEventLog.h"
#include "CHEventLogModel.h"
#include "CHPaintTrace.h"

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

QColor NotFoundColor(const QPalette& palette) {
    // A red tint of the theme's own base, so the theme's text colour stays
    // readable on it, light or dark.
    const QColor base = palette.color(QPalette::Base);
    const bool dark = base.lightness() < 128;
    const QColor red = dark ? QColor(140, 10, 10) : QColor(255, 90, 90);
    const qreal share = 0.35;
    return QColor::fromRgbF(base.redF() + (red.redF() - base.redF()) * share,
                            base.greenF() + (red.greenF() - base.greenF()) * share,
                            base.blueF() + (red.blueF() - base.blueF()) * share);
}

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
                                                                          : NotFoundColor(palette()));
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

    // Rows the model removes take their selection along; that is no choice
    // of the user's, so it must not reach the log.
    connect(m_model, &CHEventLogModel::aboutToSync, this, [this] { m_mirroring = true; });
    connect(m_model, &CHEventLogModel::shifted, this, &CHListBoxOld::shiftSelection);
    connect(m_model, &CHEventLogModel::synced, this, &CHListBoxOld::mirrorSelection);
    // The log's line stays selected by the list's rules as lines arrive, not
    // at the next catch-up, so a trim between two frames lands right.
    m_logSelected = log.Count() - 1;
    connect(&log, &CHEventLog::linesChanged, this, &CHListBoxOld::followLines);
    connect(&log, &CHEventLog::wasReset, this, [this] {
        m_logSelected = -1;
        ++m_selectionSerial;
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CHListBoxOld::userSelectionChanged);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &CHListBoxOld::userSelectionChanged);
    m_seenSerial = m_selectionSerial - 1; // show the log's selection at the first sync
    m_trace = CHPaintTrace::FromEnvironment(*this);
    m_model->Sync();
    mirrorSelection();
}

CHListBoxOld::~CHListBoxOld() = default;

bool CHListBoxOld::SyncPending() const {
    return m_model->Pending();
}

int CHListBoxOld::LogLine(int row) const {
    return m_model->StoreRow(row);
}

void CHListBoxOld::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (m_trace)
        m_trace->Painted();
}

int CHListBoxOld::SelectedLine() const {
    const QModelIndex cur = currentIndex();
    if (cur.isValid() && selectionModel()->isSelected(cur))
        return cur.row();
    return -1;
}

void CHListBoxOld::SelectLine(int row) {
    Sync();
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
    postScroll();
}

void CHListBoxOld::Sync() {
    m_model->Sync();
}

// After the model caught up: where the log chose a line itself, select it;
// where a trim only moved the user's line up, the rows moved with it already.
void CHListBoxOld::mirrorSelection() {
    m_mirroring = true;
    if (m_selectionSerial != m_seenSerial) {
        m_seenSerial = m_selectionSerial;
        const int row = m_logSelected;
        if (row >= 0)
            selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
        else
            selectionModel()->clear();
    }
    m_mirroring = false;
    // Scrolled here, before the frame's one repaint, not at a later pass.
    if (const int row = SelectedLine(); row >= 0)
        scrollTo(m_model->index(row), QAbstractItemView::EnsureVisible);
    Q_EMIT caughtUp();
}

// The rows of a full log moved on by `lines`: every row shows a new text, and
// the selected lines move up with them, as rows removed at the front would
// carry them; lines gone lose their selection. Where the log chose a line
// itself, mirrorSelection selects it.
void CHListBoxOld::shiftSelection(int lines) {
    viewport()->update();
    if (m_selectionSerial != m_seenSerial)
        return;
    QItemSelection moved;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.bottom() - lines >= 0)
            moved.select(m_model->index(std::max(0, range.top() - lines)), m_model->index(range.bottom() - lines));
    }
    const int current = currentIndex().isValid() ? currentIndex().row() - lines : -1;
    if (current >= 0)
        selectionModel()->setCurrentIndex(m_model->index(current), QItemSelectionModel::NoUpdate);
    else
        selectionModel()->clearCurrentIndex();
    selectionModel()->select(moved, QItemSelectionModel::ClearAndSelect);
}

// One text added to the log: `before` lines were there, `dropped` of them
// left the front.
void CHListBoxOld::followLines(int dropped, int appended) {
    const int before = m_log.Count() - appended + dropped;
    if (m_logSelected + 1 == before) {
        m_logSelected = m_log.Count() - 1; // the newest line was selected: follow it
        ++m_selectionSerial;
    } else if (dropped == 0) {
        // the same line, nothing trimmed
    } else if (m_logSelected >= dropped) {
        m_logSelected -= dropped; // the same line, moved up
    } else {
        m_logSelected = 0; // the selected line was trimmed away (or there was none)
        ++m_selectionSerial;
    }
}

void CHListBoxOld::userSelectionChanged() {
    if (m_mirroring)
        return;
    const int row = SelectedLine();
    const int line = row >= 0 ? m_model->StoreRow(row) : -1;
    m_logSelected = line >= 0 && line < m_log.Count() ? line : -1;
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
    Sync();
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
