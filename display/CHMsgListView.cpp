#include "CHMsgListView.h"

#include "qbytetext.h"

#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <vector>

static void initDisplayIcons() {
    Q_INIT_RESOURCE(display_icons);
}

namespace tovik {

bool MsgNameLess(const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

CHMsgListView::CHMsgListView(QWidget* parent) : QListWidget(parent) {
    initDisplayIcons();
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);                     // further columns when a column is full
    setResizeMode(QListView::Adjust);      // re-arranged as the list grows or shrinks
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideNone);
    refitGrid();
    setFocusPolicy(Qt::StrongFocus);
    // The selected row stays marked when the focus is elsewhere (the log,
    // the tool bar): the send command acts on it.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

CHMsgListView::Image CHMsgListView::ImageFor(const CHOneMsg& msg) {
    if (!msg.m_strLoadError.empty())
        return ImageError;
    if (msg.m_nStream == 0)
        return ImageStream0;
    return (msg.m_nFunction & 1) != 0 ? ImagePrimary : ImageSecondary;
}

QIcon CHMsgListView::IconFor(Image image) {
    // Rendered once at 1x and 2x so the icons stay sharp on any screen,
    // without relying on an icon-engine plugin being installed.
    static QIcon cache[4];
    QIcon& icon = cache[image];
    if (icon.isNull()) {
        static const char* const files[4] = {":/display/icons/msg_primary.svg", ":/display/icons/msg_secondary.svg",
                                             ":/display/icons/msg_stream0.svg", ":/display/icons/msg_error.svg"};
        initDisplayIcons();
        QSvgRenderer svg(QString::fromLatin1(files[image]));
        for (int scale : {1, 2}) {
            QPixmap pm(16 * scale, 16 * scale);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            svg.render(&p);
            p.end();
            pm.setDevicePixelRatio(scale);
            icon.addPixmap(pm);
        }
    }
    return icon;
}

QListWidgetItem* CHMsgListView::makeItem(CHOneMsg* msg) const {
    const Image image = ImageFor(*msg);
    auto* item = new QListWidgetItem(IconFor(image), TextFromBytes(msg->m_strName));
    item->setData(kRecordRole, QVariant::fromValue(reinterpret_cast<quintptr>(msg)));
    item->setData(kImageRole, static_cast<int>(image));
    if (!msg->m_strLoadError.empty())
        item->setToolTip(TextFromBytes(msg->m_strLoadError));
    return item;
}

int CHMsgListView::InsertMessageItem(CHOneMsg* msg) {
    if (msg == nullptr)
        return -1;
    const QString name = TextFromBytes(msg->m_strName);
    // Binary search for the first row that sorts after the name: equal names
    // go after those already shown.
    int lo = 0;
    int hi = count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (MsgNameLess(name, item(mid)->text()))
            hi = mid;
        else
            lo = mid + 1;
    }
    insertItem(lo, makeItem(msg));
    fitGrid(name);
    return lo;
}

void CHMsgListView::fitGrid(const QString& name) {
    const int w = fontMetrics().horizontalAdvance(name);
    if (w <= m_textWidth && gridSize().isValid())
        return;
    m_textWidth = std::max(w, m_textWidth);
    const int h = std::max(fontMetrics().height(), iconSize().height()) + 4;
    setGridSize(QSize(iconSize().width() + m_textWidth + 16, h));
}

void CHMsgListView::refitGrid() {
    m_textWidth = fontMetrics().horizontalAdvance(QStringLiteral("New Message #1"));
    setGridSize(QSize());
    if (QFontInfo(font()).fixedPitch()) {
        // Every character is as wide as the next: only the longest name
        // needs measuring, which spares shaping thousands of texts.
        int longest = -1;
        for (int i = 0; i < count(); ++i)
            if (longest < 0 || item(i)->text().size() > item(longest)->text().size())
                longest = i;
        if (longest >= 0)
            fitGrid(item(longest)->text());
    } else {
        for (int i = 0; i < count(); ++i)
            fitGrid(item(i)->text());
    }
    fitGrid(QString());
}

void CHMsgListView::changeEvent(QEvent* event) {
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        refitGrid();
}

void CHMsgListView::Rebuild(const CHOneMsgList& list) {
    clear();
    std::vector<std::pair<QString, CHOneMsg*>> rows;
    rows.reserve(list.size());
    for (const auto& m : list)
        rows.emplace_back(TextFromBytes(m->m_strName), m.get());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return MsgNameLess(a.first, b.first); });
    setUpdatesEnabled(false);
    for (const auto& r : rows)
        addItem(makeItem(r.second));
    refitGrid();
    setUpdatesEnabled(true);
}

CHOneMsg* CHMsgListView::MessageAt(int row) const {
    const QListWidgetItem* it = item(row);
    return it != nullptr ? reinterpret_cast<CHOneMsg*>(it->data(kRecordRole).value<quintptr>()) : nullptr;
}

int CHMsgListView::RowOf(const CHOneMsg* msg) const {
    for (int i = 0; i < count(); ++i)
        if (MessageAt(i) == msg)
            return i;
    return -1;
}

int CHMsgListView::SelectedRow() const {
    const QList<QListWidgetItem*> sel = selectedItems();
    if (sel.isEmpty())
        return -1;
    return row(sel.front());
}

QString CHMsgListView::SelectedName() const {
    const int r = SelectedRow();
    return r >= 0 ? item(r)->text() : QString();
}

std::string CHMsgListView::SelectedNameBytes() const {
    return BytesFromText(SelectedName());
}

void CHMsgListView::SelectRow(int r) {
    if (r < 0 || r >= count()) {
        clearSelection();
        setCurrentItem(nullptr);
        return;
    }
    setCurrentRow(r, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(r));
}

int CHMsgListView::RemoveSelectedRow() {
    const int r = SelectedRow();
    if (r >= 0)
        delete takeItem(r);
    return r;
}

void CHMsgListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // A right click selects the row under it, then asks for the
        // properties of the selected row; on empty space the command reports
        // that none is selected or acts on the row that is.
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid())
            SelectRow(index.row());
        QMetaObject::invokeMethod(this, &CHMsgListView::propertyRequested, Qt::QueuedConnection);
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void CHMsgListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    // Anywhere in the list, empty space included: the command acts on the
    // selected row or reports that there is none.
    if (event->button() == Qt::LeftButton)
        QMetaObject::invokeMethod(this, &CHMsgListView::sendRequested, Qt::QueuedConnection);
}

} // namespace tovik
