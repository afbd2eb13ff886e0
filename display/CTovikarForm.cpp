#include "CTovikarForm.h"

#include "CHEventLog.h"
#include "CHListBoxOld.h"
#include "CHMsgCommands.h"
#include "CHMsgListView.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <CHsmsPanel.h>
#include <CVeltSecsIPanel.h>

#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QResizeEvent>
#include <QTabBar>

namespace tovik {

CTovikarForm::CTovikarForm(CTovikarView& view, CTovikarDoc& doc, QWidget* parent)
    : QWidget(parent), m_view(view), m_doc(doc) {
    // A fixed-pitch face so that the columns of message texts line up in the
    // log; the lists inherit it.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    setFont(font);

    m_tabFrame = new QFrame(this);
    m_tabFrame->setFrameShape(QFrame::StyledPanel);
    m_tabs = new QTabBar(this);
    m_tabs->addTab(QStringLiteral("SECS"));
    m_tabs->addTab(QStringLiteral("HSMS"));
    m_tabs->setDrawBase(false);

    auto* hsms = new CHsmsPanel(this);
    hsms->SetDriver(&view.Hsms());
    m_hsmsPanel = hsms;
    m_secsPanel = new CVeltSecsIPanel(&view.SecsI(), this);

    m_codecPanel = new QLabel(this);
    m_codecPanel->setFrameShape(QFrame::StyledPanel);
    m_codecPanel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_codecPanel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_codecPanel->setMargin(3);

    m_list = new CHMsgListView(this);
    m_log = new CHListBoxOld(view.EventLog(), this);
    m_commands = new CHMsgCommands(doc, *m_list, view.EventLog(), view.ScratchCodec(), this, this);

    // Template order, as the keyboard focus walks it.
    const std::pair<int, QWidget*> placed[] = {
        {IDC_TAB, m_tabs},         {IDC_HSMS, m_hsmsPanel},   {IDC_SECS, m_secsPanel},
        {IDC_CODEC, m_codecPanel}, {IDC_EVENT_LOG, m_log},    {IDC_MESSAGE_LIST, m_list},
    };
    m_tabFrame->setGeometry(DialogRect(IDC_TAB));
    for (const auto& [id, w] : placed)
        w->setGeometry(DialogRect(id));
    // The tab row sits on top of the tab area; the panels inside it.
    m_tabs->resize(DialogRect(IDC_TAB).width(), m_tabs->sizeHint().height());
    m_tabFrame->setGeometry(DialogRect(IDC_TAB).adjusted(0, m_tabs->height() - 1, 0, 0));
    m_hsmsPanel->raise();
    m_secsPanel->raise();

    // The panel laid out at start is HSMS, until the view shows the
    // configured protocol's panel.
    m_secsPanel->hide();
    m_tabs->setCurrentIndex(1);

    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
        if (index == 0 || index == 1)
            m_view.ShowPortPanel(index);
    });
    connect(&view, &CTovikarView::PortPanelShown, this, &CTovikarForm::ShowPanel);

    view.SetSelectionProvider([this] { return m_list->SelectedName(); });
    connect(m_list, &CHMsgListView::sendRequested, &view, &CTovikarView::OnSendMessage);
    connect(m_list, &CHMsgListView::propertyRequested, m_commands, &CHMsgCommands::OnMessageProperty);

    connect(&view, &CTovikarView::MessageListRefreshed, this, [this] { m_list->Rebuild(m_doc.m_msgList); });
    // A replaced list frees the records the rows point at: empty the rows at
    // once, the view's next tick rebuilds them.
    connect(&doc, &CTovikarDoc::listChanged, this, [this] {
        if (m_doc.m_bRefreshList)
            m_list->clear();
    });
    m_list->Rebuild(doc.m_msgList);

    // Every message in or out is logged: the codec panel follows the log,
    // in the same frame.
    connect(m_log, &CHListBoxOld::caughtUp, this, &CTovikarForm::refreshCodecPanel);
    refreshCodecPanel();
}

CTovikarForm::~CTovikarForm() {
    m_view.SetSelectionProvider({});
}

QRect CTovikarForm::duRect(int x, int y, int w, int h) const {
    const QFontMetrics fm(font());
    const int cx = fm.averageCharWidth();
    const int cy = fm.height();
    return QRect(x * cx / 4, y * cy / 8, w * cx / 4, h * cy / 8);
}

QRect CTovikarForm::DialogRect(int control) const {
    switch (control) {
    case IDC_HSMS:
    case IDC_SECS:
        return duRect(6, 18, 108, 39);
    case IDC_CODEC:
        return duRect(3, 63, 114, 48);
    case IDC_EVENT_LOG:
        return duRect(3, 114, 126, 9);
    case IDC_MESSAGE_LIST:
        return duRect(120, 3, 9, 108);
    case IDC_TAB:
        return duRect(3, 3, 114, 57);
    default:
        return {};
    }
}

QSize CTovikarForm::sizeHint() const {
    return duRect(0, 0, 129, 134).size();
}

void CTovikarForm::ShowPanel(int tab) {
    if (tab != 0 && tab != 1)
        return;
    m_hsmsPanel->setVisible(tab == 1);
    m_secsPanel->setVisible(tab == 0);
    const QSignalBlocker block(m_tabs);
    m_tabs->setCurrentIndex(tab);
}

void CTovikarForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (window()->isMinimized())
        return;
    const int w = event->size().width();
    const int h = event->size().height();

    QRect log = m_log->geometry();
    const int margin = log.left();
    if (w - 2 * margin > 0 && h - margin - log.top() > 0) {
        log.setRight(w - margin - 1); // QRect's right is inclusive
        log.setBottom(h - margin - 1);
        m_log->setGeometry(log);
    }
    QRect list = m_list->geometry();
    if (w - margin - list.left() > 0 && list.height() > 0) {
        list.setRight(w - margin - 1);
        m_list->setGeometry(list);
    }
}

void CTovikarForm::refreshCodecPanel() {
    CHVeltSecsII& c = m_view.WorkingCodec();
    const QString head = QString::fromLatin1(c.GetHexMessage().substr(0, 20));
    m_codecPanel->setText(QStringLiteral("SECS-II s%1f%2%3\ndevice %4\n%5\nbody %6 bytes")
                              .arg(c.GetStream())
                              .arg(c.GetFunction())
                              .arg(c.GetWBit() ? QStringLiteral("w") : QString())
                              .arg(c.GetDevice())
                              .arg(head)
                              .arg(static_cast<qulonglong>(c.BodySize())));
}

} // namespace tovik
