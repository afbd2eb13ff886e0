#pragma once
// The main form: the "SECS" / "HSMS" tab bar over the driver panels, the
// working codec's panel, the message list and the event log, placed as the
// form's template lays them out in dialog units. The log grows with the
// window to the right and down, the message list to the right only.
#include <QRect>
#include <QWidget>

class QFrame;
class QLabel;
class QTabBar;

namespace tovik {

class CHListBoxOld;
class CHMsgCommands;
class CHMsgListView;
class CTovikarDoc;
class CTovikarView;

class CTovikarForm : public QWidget {
    Q_OBJECT
public:
    // Control ids of the template, for DialogRect.
    enum Control {
        IDC_HSMS = 1001,
        IDC_SECS = 1002,
        IDC_CODEC = 1003,
        IDC_EVENT_LOG = 1010,
        IDC_MESSAGE_LIST = 1011,
        IDC_TAB = 1037,
    };

    CTovikarForm(CTovikarView& view, CTovikarDoc& doc, QWidget* parent = nullptr);
    ~CTovikarForm() override;

    CHMsgListView& MessageList() const { return *m_list; }
    CHListBoxOld& EventLogList() const { return *m_log; }
    QTabBar& TabBar() const { return *m_tabs; }
    CHMsgCommands& Commands() const { return *m_commands; }
    QWidget* HsmsPanel() const { return m_hsmsPanel; }
    QWidget* SecsPanel() const { return m_secsPanel; }

    // A control's template rectangle in pixels of the form's font.
    QRect DialogRect(int control) const;
    QSize sizeHint() const override;

    // Shows the SECS-I (0) or HSMS (1) panel and selects its tab.
    void ShowPanel(int tab);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect duRect(int x, int y, int w, int h) const;
    void refreshCodecPanel();

    CTovikarView& m_view;
    CTovikarDoc& m_doc;
    QTabBar* m_tabs;
    QFrame* m_tabFrame;
    QWidget* m_hsmsPanel;
    QWidget* m_secsPanel;
    QLabel* m_codecPanel;
    CHMsgListView* m_list;
    CHListBoxOld* m_log;
    CHMsgCommands* m_commands;
};

} // namespace tovik
