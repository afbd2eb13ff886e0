#pragma once
// The options dialog: the settings pages in tabs, OK and Cancel. OK copies
// the pages into the application object and saves the settings; nothing is
// applied at once, each part takes the new value the next time it reads it.
#include <QDialog>

#include <vector>

class CTovikarApp;
class COptionPage;
class COption1;
class COption2;
class COption3;
class COption4;
class COption5;
class COption6;
class COption7;
class QDialogButtonBox;
class QTabWidget;

class COptionSheet : public QDialog {
    Q_OBJECT
public:
    explicit COptionSheet(CTovikarApp& app, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    QDialogButtonBox* buttons() const { return m_buttons; }
    COption1* general() const { return m_general; }
    COption2* hsms() const { return m_hsms; }
    COption5* secs() const { return m_secs; }
    COption3* info() const { return m_info; }
    COption4* timeOut() const { return m_timeOut; }
    COption6* log() const { return m_log; }
    COption7* event() const { return m_event; }

public Q_SLOTS:
    void accept() override;

private:
    void onCurrentChanged(int index);
    void copyToApp();

    CTovikarApp& m_app;
    QTabWidget* m_tabs;
    QDialogButtonBox* m_buttons;
    COption1* m_general;
    COption2* m_hsms;
    COption5* m_secs;
    COption3* m_info;
    COption4* m_timeOut;
    COption6* m_log;
    COption7* m_event;
    std::vector<COptionPage*> m_pages; // in tab order
    int m_current = 0;
};

// The Option command: runs the dialog modally over parent.
void RunOptionsDialog(CTovikarApp& app, QWidget* parent = nullptr);

namespace tovik {
// Message boxes as real windows with an OK button; main() installs them.
void installWidgetMessageBoxes();
} // namespace tovik
