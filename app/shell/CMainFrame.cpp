#include "CMainFrame.h"

#include "CAboutDlg.h"
#include "CHDocCommands.h"
#include "CHEventLog.h"
#include "CHFaultsPanel.h"
#include "CHKeyIndicators.h"
#include "CHListBoxOld.h"
#include "CHMsgCommands.h"
#include "CHMsgListView.h"
#include "CHMessageView.h"
#include "CHPanelDock.h"
#include "CHScriptEngine.h"
#include "CHTrayIcon.h"
#include "COptionSheet.h"
#include "CSplashWnd.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"
#include "CTovikarView.h"
#include "messagebox.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <array>

namespace tovik {

namespace {

struct CommandDef {
    int id;
    const char* menuText; // with "\t" and the keys shown in the menu
    const char* prompt;   // status text "\n" tool tip
    const char* icon;     // tool bar image, or null
};

// Menu texts and prompts of every command.
constexpr std::array kCommands{
    CommandDef{CMainFrame::ID_FILE_NEW, "&New\tCtrl+N", "Create a new document\nNew", "new"},
    CommandDef{CMainFrame::ID_FILE_OPEN, "&Open...\tCtrl+O", "Open an existing document\nOpen",
               "open"},
    CommandDef{CMainFrame::ID_FILE_SAVE, "&Save\tCtrl+S", "Save the active document\nSave", "save"},
    CommandDef{CMainFrame::ID_FILE_SAVE_AS, "Save &As...",
               "Save the active document with a new name\nSave As", nullptr},
    CommandDef{CMainFrame::ID_FILE_PRINT, "&Print...\tCtrl+P", "Print the active document\nPrint",
               nullptr},
    CommandDef{CMainFrame::ID_FILE_PRINT_PREVIEW, "Print Pre&view",
               "Display full pages\nPrint Preview", nullptr},
    CommandDef{CMainFrame::ID_FILE_PRINT_SETUP, "P&rint Setup...",
               "Change the printer and printing options\nPrint Setup", nullptr},
    CommandDef{CMainFrame::ID_APP_EXIT, "E&xit",
               "Quit the application; prompts to save documents\nExit", nullptr},
    CommandDef{CMainFrame::ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo", nullptr},
    CommandDef{CMainFrame::ID_EDIT_CUT, "Cu&t\tCtrl+X",
               "Cut the selection and put it on the Clipboard\nCut", "cut"},
    CommandDef{CMainFrame::ID_EDIT_COPY, "&Copy\tCtrl+C",
               "Copy the selection and put it on the Clipboard\nCopy", "copy"},
    CommandDef{CMainFrame::ID_EDIT_PASTE, "&Paste\tCtrl+V", "Insert Clipboard contents\nPaste",
               "paste"},
    CommandDef{CMainFrame::ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar",
               nullptr},
    CommandDef{CMainFrame::ID_VIEW_STATUS_BAR, "&Status Bar",
               "Show or hide the status bar\nToggle StatusBar", nullptr},
    CommandDef{CMainFrame::ID_DISCONNECT, "&Disconnect", "Disconnect\nDisconnect", nullptr},
    CommandDef{CMainFrame::ID_APP_ABOUT, "&About Tovikar...",
               "Display program information, version number and copyright\nAbout", "about"},
    CommandDef{CMainFrame::ID_RECORD, "Record", "Record\nRecord", "record"},
    CommandDef{CMainFrame::ID_ADD_NEW_MESSAGE, "Add New Message",
               "Add New Message\nAdd New Message", "add_message"},
    CommandDef{CMainFrame::ID_DELETE_MESSAGE, "Delete Message", "Delete Message\nDelete Message",
               "delete_message"},
    CommandDef{CMainFrame::ID_MESSAGE_PROPERTY, "Message Property",
               "Message Property\nMessage Property", "message_property"},
    CommandDef{CMainFrame::ID_OPTION, "Option", "Option\nOption", "option"},
    CommandDef{CMainFrame::ID_CONNECT, "Connect", "Connect\nConnect", "connect"},
    CommandDef{CMainFrame::ID_SEND_MESSAGE, "Send Message", "Send Message\nSend", "send_message"},
    CommandDef{CMainFrame::ID_NEXT_PANE, "Next Pane", "Switch to the next window pane\nNext Pane",
               nullptr},
    CommandDef{CMainFrame::ID_PREV_PANE, "Previous Pane",
               "Switch back to the previous window pane\nPrevious Pane", nullptr},
};

struct Accelerator {
    QKeyCombination keys;
    int id;
};

// The accelerator table; the first keys of a command are the ones a menu shows.
const Accelerator kAccelerators[] = {
    {Qt::CTRL | Qt::Key_C, CMainFrame::ID_EDIT_COPY},
    {Qt::CTRL | Qt::Key_Insert, CMainFrame::ID_EDIT_COPY},
    {Qt::CTRL | Qt::Key_N, CMainFrame::ID_FILE_NEW},
    {Qt::CTRL | Qt::Key_O, CMainFrame::ID_FILE_OPEN},
    {Qt::CTRL | Qt::Key_P, CMainFrame::ID_FILE_PRINT},
    {Qt::CTRL | Qt::Key_S, CMainFrame::ID_FILE_SAVE},
    {Qt::CTRL | Qt::Key_V, CMainFrame::ID_EDIT_PASTE},
    {Qt::SHIFT | Qt::Key_Insert, CMainFrame::ID_EDIT_PASTE},
    {Qt::CTRL | Qt::Key_X, CMainFrame::ID_EDIT_CUT},
    {Qt::SHIFT | Qt::Key_Delete, CMainFrame::ID_EDIT_CUT},
    {Qt::CTRL | Qt::Key_Z, CMainFrame::ID_EDIT_UNDO},
    {Qt::ALT | Qt::Key_Backspace, CMainFrame::ID_EDIT_UNDO},
    {QKeyCombination(Qt::Key_Delete), CMainFrame::ID_DELETE_MESSAGE},
    {QKeyCombination(Qt::Key_Return), CMainFrame::ID_SEND_MESSAGE},
    {QKeyCombination(Qt::Key_Enter), CMainFrame::ID_SEND_MESSAGE},
    {QKeyCombination(Qt::Key_F6), CMainFrame::ID_NEXT_PANE},
    {Qt::SHIFT | Qt::Key_F6, CMainFrame::ID_PREV_PANE},
};

// No part of Tovik handles these: they show, disabled. Printing would need
// a printer module the program does not carry.
bool isUnhandled(int id) {
    switch (id) {
    case CMainFrame::ID_RECORD:
    case CMainFrame::ID_EDIT_UNDO:
    case CMainFrame::ID_FILE_PRINT:
    case CMainFrame::ID_FILE_PRINT_PREVIEW:
    case CMainFrame::ID_FILE_PRINT_SETUP:
        return true;
    default:
        return false;
    }
}

bool isEditCommand(int id) {
    switch (id) {
    case CMainFrame::ID_MESSAGE_PROPERTY:
    case CMainFrame::ID_ADD_NEW_MESSAGE:
    case CMainFrame::ID_DELETE_MESSAGE:
    case CMainFrame::ID_EDIT_CUT:
    case CMainFrame::ID_EDIT_COPY:
    case CMainFrame::ID_EDIT_PASTE:
        return true;
    default:
        return false;
    }
}

QString formatNow(std::time_t when, const char* format) {
    std::tm local{};
    if (!localtime_r(&when, &local))
        return {};
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

const QString kBarSection = QStringLiteral("CMainFrame");

// The document commands' questions, as the window asks them.
CHDocPrompts dialogPrompts(QWidget* parent) {
    CHDocPrompts prompts;
    prompts.askSave = [parent](const QString& text) {
        switch (QMessageBox::question(parent, QStringLiteral("Tovik"), text,
                                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
        case QMessageBox::Yes:
            return CHDocPrompts::Answer::Yes;
        case QMessageBox::No:
            return CHDocPrompts::Answer::No;
        default:
            return CHDocPrompts::Answer::Cancel;
        }
    };
    prompts.chooseFile = [parent](bool save, const QString& start) {
        if (save)
            return QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), start,
                                                QStringLiteral("Tovik Files (*.tvkm)"));
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), start,
                                            QStringLiteral("Tovik Files (*.tvkm);;All Files (*)"));
    };
    return prompts;
}

} // namespace

CMainFrame::CMainFrame(CTovikarApp& app, CTovikarDoc& doc, CTovikarView& view, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_doc(doc), m_view(view) {
    setWindowIcon(QIcon(QStringLiteral(":/shell/icons/tovik.svg")));
    m_form = new CTovikarForm(view, doc, this);
    setCentralWidget(m_form);
    m_tray = new CHTrayIcon(this);
    m_docs = new CHDocCommands(doc, dialogPrompts(this), this);

    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    createMessagesDock();
    LoadBarState();
    CSplashWnd::ShowSplashScreen(this);

    m_docs->RecentFiles().ReadList(m_app.profile());
    rebuildRecentFileMenu();

    connect(&view, &CTovikarView::TrayIconChanged, m_tray, &CHTrayIcon::Update);
    connect(&view, &CTovikarView::HideRequested, this, &CMainFrame::HideToTray);
    connect(&view, &CTovikarView::CommandStatesChanged, this, &CMainFrame::onEngineStateChanged);
    connect(&m_form->Commands(), &CHMsgCommands::commandStatesChanged, this,
            &CMainFrame::UpdateCommandStates);
    connect(&m_form->MessageList(), &QListWidget::itemSelectionChanged, this,
            &CMainFrame::UpdateCommandStates);
    connect(&doc, &CTovikarDoc::titleChanged, this, &CMainFrame::updateTitle);
    connect(&doc, &CTovikarDoc::documentOpened, this, &CMainFrame::updateTitle);
    connect(&doc, &CTovikarDoc::documentSaved, this, &CMainFrame::updateTitle);
    connect(m_docs, &CHDocCommands::recentFilesChanged, this, &CMainFrame::rebuildRecentFileMenu);

    // States change with the selection, the engine and the clipboard; the
    // timer catches whatever reports nothing.
    m_updateTimer.setInterval(kUpdateTimerMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommandStates);
    m_updateTimer.start();

    // The editing keys belong to a line edit that has the focus (the log's
    // find box), and Ctrl+C in the log copies its lines.
    m_form->EventLogList().installEventFilter(this);
    for (QLineEdit* edit : m_form->findChildren<QLineEdit*>())
        edit->installEventFilter(this);

    setAcceptDrops(false); // until the start-up is complete
    updateTitle();
    UpdateCommandStates();
    UpdateStatusPanes();
}

CMainFrame::~CMainFrame() {
    // The icon goes with the window that it stands for.
    m_tray->Update(2, m_view.GetConnected());
}

void CMainFrame::createActions() {
    for (const CommandDef& def : kCommands) {
        const QString menuText = QString::fromLatin1(def.menuText);
        const QString prompt = QString::fromLatin1(def.prompt);
        auto* action = new QAction(menuText.section(QLatin1Char('\t'), 0, 0), this);
        action->setData(def.id);
        action->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
        action->setToolTip(prompt.section(QLatin1Char('\n'), 1, 1));
        if (def.icon)
            action->setIcon(
                QIcon(QStringLiteral(":/shell/icons/%1.svg").arg(QLatin1String(def.icon))));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, id = def.id] { onCommand(id); });
        m_actions[def.id] = action;
        addAction(action); // keys work whether or not a bar shows the command
    }
    std::map<int, QList<QKeySequence>> keys;
    for (const Accelerator& a : kAccelerators)
        keys[a.id].append(QKeySequence(a.keys));
    for (auto& [id, list] : keys)
        m_actions[id]->setShortcuts(list);

    m_actions[ID_CONNECT]->setCheckable(true);
    m_actions[ID_SEND_MESSAGE]->setCheckable(true);
    m_actions[ID_VIEW_TOOLBAR]->setCheckable(true);
    m_actions[ID_VIEW_STATUS_BAR]->setCheckable(true);
}

void CMainFrame::createMenus() {
    m_fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS})
        m_fileMenu->addAction(m_actions[id]);
    QAction* exportAction = m_fileMenu->addAction(QStringLiteral("&Export Messages..."));
    exportAction->setObjectName(QStringLiteral("ExportMessages"));
    exportAction->setStatusTip(QStringLiteral("Write the messages sent and received to a file"));
    connect(exportAction, &QAction::triggered, this, &CMainFrame::exportMessages);
    m_fileMenu->addSeparator();
    for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP})
        m_fileMenu->addAction(m_actions[id]);
    m_fileMenu->addSeparator();
    m_recentAnchor = m_fileMenu->addAction(QStringLiteral("Recent File"));
    m_recentAnchor->setEnabled(false);
    m_recentAnchor->setData(int(ID_FILE_MRU_FILE1));
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_actions[ID_APP_EXIT]);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(m_actions[ID_EDIT_UNDO]);
    edit->addSeparator();
    for (int id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE})
        edit->addAction(m_actions[id]);

    m_viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    m_viewMenu->addAction(m_actions[ID_VIEW_TOOLBAR]);
    m_viewMenu->addAction(m_actions[ID_VIEW_STATUS_BAR]);

    m_toolsMenu = menuBar()->addMenu(QStringLiteral("&Tools"));
    m_toolsMenu->addAction(m_actions[ID_DISCONNECT]);
    connect(m_toolsMenu->addAction(QStringLiteral("&Faults...")), &QAction::triggered, this,
            [this] { FaultsPanel().show(); FaultsPanel().raise(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(m_actions[ID_APP_ABOUT]);

    // A menu shows the first keys of its command after a tab.
    for (const CommandDef& def : kCommands) {
        const QString menuText = QString::fromLatin1(def.menuText);
        if (menuText.contains(QLatin1Char('\t')))
            m_actions[def.id]->setText(menuText);
    }
}

void CMainFrame::createToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("ToolBar"));
    m_toolBar->setIconSize(QSize(24, 24));
    const int layout[] = {ID_FILE_NEW,         ID_FILE_OPEN,
                          ID_FILE_SAVE,        0,
                          ID_EDIT_CUT,         ID_EDIT_COPY,
                          ID_EDIT_PASTE,       0,
                          ID_RECORD,           0,
                          ID_ADD_NEW_MESSAGE,  ID_DELETE_MESSAGE,
                          ID_MESSAGE_PROPERTY, 0,
                          ID_OPTION,           ID_CONNECT,
                          ID_SEND_MESSAGE,     0,
                          ID_APP_ABOUT};
    for (int id : layout) {
        if (id == 0)
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(m_actions[id]);
    }
    addToolBar(Qt::BottomToolBarArea, m_toolBar);
}

void CMainFrame::createStatusBar() {
    auto* ready = new QLabel(QStringLiteral("Ready"), this);
    statusBar()->addWidget(ready, 1);
    new CHKeyIndicators(*statusBar()); // "CAP", "NUM", "SCRL", before the date and the time
    m_datePane = new QLabel(this);
    m_timePane = new QLabel(this);
    m_datePane->setObjectName(QStringLiteral("DatePane"));
    m_timePane->setObjectName(QStringLiteral("TimePane"));
    for (QLabel* pane : {m_datePane, m_timePane}) {
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        statusBar()->addPermanentWidget(pane);
    }
    // The panes are refreshed once a second.
    m_statusTimer.setInterval(kStatusTimerMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &CMainFrame::UpdateStatusPanes);
    m_statusTimer.start();
}

CHFaultsPanel& CMainFrame::FaultsPanel() {
    if (!m_faultsPanel)
        m_faultsPanel = new CHFaultsPanel(m_view.Faults(), this);
    m_faultsPanel->Refresh();
    return *m_faultsPanel;
}

void CMainFrame::AttachScript(CHScriptEngine& script) {
    m_scriptMenu = m_toolsMenu->addMenu(QStringLiteral("&Script"));
    QAction* reload = m_scriptMenu->addAction(QStringLiteral("&Reload"));
    QAction* folder = m_scriptMenu->addAction(QStringLiteral("Open &Folder"));
    connect(reload, &QAction::triggered, &script, &CHScriptEngine::Reload);
    connect(folder, &QAction::triggered, &script, [&script] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(script.Path()).absolutePath()));
    });
    m_scriptPane = new QLabel(this);
    m_scriptPane->setObjectName(QStringLiteral("ScriptPane"));
    m_scriptPane->setFrameShape(QFrame::Panel);
    m_scriptPane->setFrameShadow(QFrame::Sunken);
    // First of the permanent panes (index 1 follows the message pane), so the
    // lock keys, the date and the time stay at the right edge.
    statusBar()->insertPermanentWidget(1, m_scriptPane);
    m_script = &script;
    m_scriptPane->installEventFilter(this);
    const auto show = [this, &script, reload, folder] {
        const QString text = script.StatusText();
        m_scriptPane->setText(text);
        m_scriptPane->setVisible(!text.isEmpty());
        const bool why = !script.StatusLine().isEmpty();
        const QString hint = why ? QStringLiteral("Click to show why in the event log") : QString();
        m_scriptPane->setToolTip(hint);
        m_scriptPane->setAccessibleDescription(hint);
        m_scriptPane->setCursor(why ? Qt::PointingHandCursor : Qt::ArrowCursor);
        reload->setEnabled(!script.Path().isEmpty());
        folder->setEnabled(!script.Path().isEmpty());
    };
    connect(&script, &CHScriptEngine::StatusChanged, this, show);
    show();

    // The script's operator panel, where the user left it last time.
    m_panelDock = new CHPanelDock(script.Panel(), this);
    addDockWidget(Qt::RightDockWidgetArea, m_panelDock);
    QAction* toggle = m_panelDock->toggleViewAction();
    toggle->setText(QStringLiteral("&Equipment"));
    toggle->setStatusTip(QStringLiteral("Show or hide the reply script's operator panel"));
    m_viewMenu->addAction(toggle);
    const QString saved = CHProfileStore::stringValue(m_app.profile().read(), kBarSection,
                                                      QStringLiteral("WindowState"), QString());
    if (!saved.isEmpty())
        restoreState(QByteArray::fromBase64(saved.toLatin1()));
}

void CMainFrame::ShowScriptStatusLine() {
    const QString line = m_script ? m_script->StatusLine().section(QLatin1Char('\n'), 0, 0) : QString();
    if (line.isEmpty())
        return;
    CHListBoxOld& list = m_form->EventLogList();
    list.Sync();
    const CHEventLog& log = list.Log();
    // The log may have clipped a long line.
    const QString start = line.left(200);
    int row = log.Count() - 1;
    while (row >= 0 && !log.Line(row).startsWith(start))
        --row;
    if (row < 0) { // newer lines pushed it out: it comes again
        m_view.AddText(line);
        list.Sync();
        row = log.Count() - 1;
    }
    list.SelectLine(row);
    list.setFocus(Qt::OtherFocusReason);
}

void CMainFrame::createMessagesDock() {
    m_messagesDock = new QDockWidget(QStringLiteral("Messages"), this);
    m_messagesDock->setObjectName(QStringLiteral("MessagesDock")); // its place in the saved state
    m_messageView = new CHMessageView(m_view, m_messagesDock);
    m_messagesDock->setWidget(m_messageView);
    // File > Export Messages writes the rows that pass the view's filter,
    // with what arrived since its last batch (a paused view keeps its rows).
    SetMessageProvider([this] {
        m_messageView->Model().CatchUp();
        return m_messageView->FilteredEntries();
    });
    addDockWidget(Qt::BottomDockWidgetArea, m_messagesDock);
    m_messagesDock->hide();
    QAction* toggle = m_messagesDock->toggleViewAction();
    toggle->setText(QStringLiteral("&Messages"));
    toggle->setStatusTip(QStringLiteral("Show or hide every message sent and received, with its items"));
    m_viewMenu->addAction(toggle);
}

QString CMainFrame::ScriptPaneText() const {
    return m_scriptPane && m_scriptPane->isVisibleTo(this) ? m_scriptPane->text() : QString();
}

QString CMainFrame::DateText(std::time_t when) {
    return formatNow(when, "%x");
}
QString CMainFrame::TimeText(std::time_t when) {
    return formatNow(when, "%X");
}

QString CMainFrame::PaneText(int pane) const {
    switch (pane) {
    case ID_INDICATOR_DATE:
        return m_datePane->text();
    case ID_INDICATOR_TIME:
        return m_timePane->text();
    default:
        return {};
    }
}

void CMainFrame::UpdateStatusPanes() {
    const std::time_t now = std::time(nullptr);
    const std::pair<QLabel*, QString> panes[] = {{m_datePane, DateText(now)},
                                                 {m_timePane, TimeText(now)}};
    for (const auto& [pane, text] : panes) {
        if (pane->text() == text)
            continue;
        // As wide as the text, measured in the status bar's font.
        const int margin = 2 * (pane->frameWidth() + pane->fontMetrics().averageCharWidth());
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(text) + margin);
        pane->setText(text);
    }
}

QAction* CMainFrame::Action(int command) const {
    const auto it = m_actions.find(command);
    if (it != m_actions.end())
        return it->second;
    const int index = command - ID_FILE_MRU_FILE1;
    if (index >= 0 && index < m_recentActions.size())
        return m_recentActions[index];
    return nullptr;
}

bool CMainFrame::Execute(int command) {
    UpdateCommandStates();
    QAction* action = Action(command);
    if (!action || !action->isEnabled())
        return false;
    action->trigger();
    return true;
}

// The engine reports after every message it handles, but its commands
// depend only on whether it is connected and awaits a reply: the states are
// set again when one of those changed, not once per message.
void CMainFrame::onEngineStateChanged() {
    if (m_engineStates != std::pair(m_view.GetConnected(), m_view.GetAwaitingReply()))
        UpdateCommandStates();
}

void CMainFrame::UpdateCommandStates() {
    m_engineStates = {m_view.GetConnected(), m_view.GetAwaitingReply()};
    const CHMsgCommands& edit = m_form->Commands();
    for (auto& [id, action] : m_actions) {
        bool enabled = true;
        bool checked = false;
        if (isUnhandled(id)) {
            enabled = false;
        } else if (isEditCommand(id)) {
            enabled = edit.IsEnabled(id);
        } else {
            switch (id) {
            case ID_CONNECT:
            case ID_OPTION:
            case ID_SEND_MESSAGE:
            case ID_DISCONNECT:
                enabled = m_view.IsCommandEnabled(id);
                checked = m_view.IsCommandChecked(id);
                break;
            case ID_VIEW_TOOLBAR:
                checked = m_toolBar && !m_toolBar->isHidden();
                break;
            case ID_VIEW_STATUS_BAR:
                checked = !statusBar()->isHidden();
                break;
            default:
                break;
            }
        }
        if (action->isEnabled() != enabled)
            action->setEnabled(enabled);
        if (action->isCheckable() && action->isChecked() != checked)
            action->setChecked(checked);
    }
}

void CMainFrame::onCommand(int command) {
    // A checkable action has flipped itself already; the state is the
    // engine's to say, so put it back before acting.
    UpdateCommandStates();
    switch (command) {
    case ID_CONNECT:
        m_view.OnConnect();
        break;
    case ID_DISCONNECT:
        m_view.OnDisconnect();
        break;
    case ID_SEND_MESSAGE:
        m_view.OnSendMessage();
        break;
    case ID_OPTION:
        RunOptionsDialog(m_app, this);
        m_view.ApplySettings(m_app.settings());
        break;
    case ID_FILE_NEW:
        m_docs->New();
        break;
    case ID_FILE_OPEN:
        m_docs->Open();
        break;
    case ID_FILE_SAVE:
        m_docs->Save();
        break;
    case ID_FILE_SAVE_AS:
        m_docs->SaveAs();
        break;
    case ID_APP_EXIT:
        close();
        break;
    case ID_APP_ABOUT:
        showAbout();
        break;
    case ID_VIEW_TOOLBAR:
        m_toolBar->setVisible(m_toolBar->isHidden());
        break;
    case ID_VIEW_STATUS_BAR:
        statusBar()->setVisible(statusBar()->isHidden());
        break;
    case ID_NEXT_PANE:
        cyclePane(1);
        break;
    case ID_PREV_PANE:
        cyclePane(-1);
        break;
    default:
        if (isEditCommand(command))
            m_form->Commands().Execute(command);
        break;
    }
    UpdateCommandStates();
}

void CMainFrame::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

namespace {
struct ExportChoice {
    ExportFormat format;
    const char* filter;
};
const ExportChoice kExportChoices[] = {
    {ExportFormat::Sml, "SML text (*.sml)"},
    {ExportFormat::JsonLines, "JSON lines (*.jsonl)"},
    {ExportFormat::Pcapng, "pcapng capture (*.pcapng)"},
};
} // namespace

void CMainFrame::exportMessages() {
    QStringList filters;
    for (const ExportChoice& c : kExportChoices)
        filters << QString::fromLatin1(c.filter);
    QString chosen = filters.front();
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Messages"), QString(),
                                                      filters.join(QStringLiteral(";;")), &chosen);
    if (path.isEmpty())
        return;
    ExportMessagesTo(path, kExportChoices[std::max<qsizetype>(0, filters.indexOf(chosen))].format);
}

bool CMainFrame::ExportMessagesTo(const QString& path, ExportFormat format) {
    const std::vector<const CHJournalEntry*> entries =
        m_messages ? m_messages() : m_view.Journal().Find(0, {});
    const Settings& s = m_view.GetSettings();
    ExportLink link;
    link.passive = s.Server;
    link.port = static_cast<std::uint16_t>(s.LocalPortNumber);
    QString error;
    if (ExportMessages(entries, format, path, &error, link))
        return true;
    showMessageBox(QStringLiteral("Cannot write %1").arg(path), this, error);
    return false;
}

void CMainFrame::cyclePane(int step) {
    QWidget* panes[] = {&m_form->MessageList(), &m_form->EventLogList(), &m_form->TabBar()};
    constexpr int count = static_cast<int>(std::size(panes));
    int current = -1;
    for (int i = 0; i < count; ++i) {
        if (panes[i] == focusWidget() || panes[i]->isAncestorOf(focusWidget()))
            current = i;
    }
    const int next = current < 0 ? 0 : (current + step + count) % count;
    panes[next]->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void CMainFrame::updateTitle() {
    QString title = QStringLiteral("%1 - Tovik").arg(m_doc.GetTitle());
    if (!m_recordingText.isEmpty())
        title += QStringLiteral(" - ") + m_recordingText;
    // A syntax error cut the document short: said for as long as it is open.
    if (const int line = m_doc.TruncatedAt())
        title += QStringLiteral(" - only the definitions before line %1 were loaded").arg(line);
    setWindowTitle(title);
}

void CMainFrame::AttachRecording(const QString& dir, std::function<void()> stop) {
    m_recordingText = QStringLiteral("Recording to %1").arg(dir);
    m_recordingPane = new QLabel(m_recordingText, this);
    m_recordingPane->setFrameShape(QFrame::Panel);
    m_recordingPane->setFrameShadow(QFrame::Sunken);
    statusBar()->insertPermanentWidget(1, m_recordingPane);
    m_stopRecording = m_toolsMenu->addAction(QStringLiteral("Stop &Recording"));
    connect(m_stopRecording, &QAction::triggered, this, [this, stop = std::move(stop)] {
        m_stopRecording->setEnabled(false);
        m_recordingText.clear();
        m_recordingPane->hide();
        updateTitle();
        stop();
    });
    updateTitle();
}

void CMainFrame::rebuildRecentFileMenu() {
    for (QAction* a : m_recentActions) {
        m_fileMenu->removeAction(a);
        a->deleteLater(); // the list can change while one of these is being triggered
    }
    m_recentActions.clear();
    const CHRecentFileList& recent = m_docs->RecentFiles();
    m_recentAnchor->setVisible(recent.Files().isEmpty());
    for (int i = 0; i < recent.Files().size(); ++i) {
        auto* action = new QAction(recent.MenuText(i), this);
        action->setData(ID_FILE_MRU_FILE1 + i);
        action->setStatusTip(QStringLiteral("Open this document"));
        connect(action, &QAction::triggered, m_docs, [this, i] { m_docs->OpenRecent(i); });
        m_fileMenu->insertAction(m_recentAnchor, action);
        m_recentActions.append(action);
    }
}

void CMainFrame::SaveWindowState() {
    // The rectangle the window has when shown normally, so a window closed
    // minimised or maximised comes back at its normal place; right and
    // bottom are one past the last pixel.
    QRect r = normalGeometry();
    if (!r.isValid())
        r = geometry();
    CTovikarApp::WindowRect rect;
    rect.left = r.left();
    rect.top = r.top();
    rect.right = r.left() + r.width();
    rect.bottom = r.top() + r.height();
    m_app.WriteWindowRect(rect); // a failed write skips the rest of the four
    CHProfileStore& store = m_app.profile();
    if (store.WriteProfileInt(kBarSection, QStringLiteral("ToolBarVisible"),
                              m_toolBar->isHidden() ? 0 : 1) &&
        store.WriteProfileInt(kBarSection, QStringLiteral("ToolBarArea"),
                              static_cast<int>(toolBarArea(m_toolBar))) &&
        store.WriteProfileInt(kBarSection, QStringLiteral("StatusBarVisible"),
                              statusBar()->isHidden() ? 0 : 1) &&
        (!m_panelDock || store.WriteProfileString(kBarSection, QStringLiteral("WindowState"),
                                                  QString::fromLatin1(saveState().toBase64()))))
        m_docs->RecentFiles().WriteList(store);
}

void CMainFrame::LoadBarState() {
    const IniText ini = m_app.profile().read();
    const int area = CHProfileStore::intValue(ini, kBarSection, QStringLiteral("ToolBarArea"),
                                              Qt::BottomToolBarArea);
    switch (area) {
    case Qt::LeftToolBarArea:
    case Qt::RightToolBarArea:
    case Qt::TopToolBarArea:
    case Qt::BottomToolBarArea:
        if (toolBarArea(m_toolBar) != static_cast<Qt::ToolBarArea>(area))
            addToolBar(static_cast<Qt::ToolBarArea>(area), m_toolBar);
        break;
    default:
        break;
    }
    m_toolBar->setVisible(
        CHProfileStore::intValue(ini, kBarSection, QStringLiteral("ToolBarVisible"), 1) != 0);
    statusBar()->setVisible(
        CHProfileStore::intValue(ini, kBarSection, QStringLiteral("StatusBarVisible"), 1) != 0);
}

void CMainFrame::HideToTray() {
    m_tray->HideWindow();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_docs->SaveModified()) {
        event->ignore();
        return;
    }
    SaveWindowState();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() &&
        !CHDocCommands::DroppedDocument(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasUrls() || !m_docs->Drop(event->mimeData()->urls()))
        return;
    event->acceptProposedAction();
    activateWindow();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_scriptPane && event->type() == QEvent::MouseButtonRelease) {
        ShowScriptStatusLine();
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (qobject_cast<QLineEdit*>(watched)) {
            // Typing in a line edit: Enter, Delete and the editing keys are its own.
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                key->key() == Qt::Key_Delete || key->matches(QKeySequence::Copy) ||
                key->matches(QKeySequence::Cut) || key->matches(QKeySequence::Paste) ||
                key->matches(QKeySequence::Undo)) {
                event->accept();
                return false;
            }
        } else if (key->matches(QKeySequence::Copy)) {
            event->accept(); // the log copies its selected lines
            return false;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tovik
