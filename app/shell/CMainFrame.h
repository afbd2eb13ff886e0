#pragma once
// The main window: menus, accelerators, the tool bar (at the bottom, above
// the status bar, until the user moves it), the status bar with the date and
// the time, the recent-file list, dropped documents, the notification-area
// icon, and the window rectangle and bar state written at every close.
//
// Every command is a QAction carrying its numeric identifier; one update
// function sets all enabled and checked states, run when what they depend on
// changes (the engine's connection and awaited reply, the selection, the
// editing commands) and on a short timer besides.
#include "CHMessageExport.h"
#include "CHMsgCommands.h"
#include "CTovikarView.h"

#include <QMainWindow>
#include <QTimer>

#include <ctime>
#include <functional>
#include <map>
#include <utility>

class CTovikarApp;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;

namespace tovik {

class CHDocCommands;
class CHScriptEngine;
class CHFaultsPanel;
class CHMessageView;
class CHTrayIcon;
class CTovikarDoc;
class CTovikarForm;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // The commands the frame handles itself or passes on: the engine's and
    // the editing commands are theirs, the rest the frame's own.
    using enum CTovikarView::Command;
    using enum CHMsgCommands::Command;
    enum Command {
        ID_RECORD = 32780,
        ID_FILE_NEW = 57600,
        ID_FILE_OPEN = 57601,
        ID_FILE_SAVE = 57603,
        ID_FILE_SAVE_AS = 57604,
        ID_FILE_PRINT_SETUP = 57606,
        ID_FILE_PRINT = 57607,
        ID_FILE_PRINT_PREVIEW = 57609,
        ID_FILE_MRU_FILE1 = 57616, // to ID_FILE_MRU_FILE1 + 3
        ID_EDIT_UNDO = 57643,
        ID_APP_ABOUT = 57664,
        ID_APP_EXIT = 57665,
        ID_NEXT_PANE = 57680,
        ID_PREV_PANE = 57681,
        ID_VIEW_TOOLBAR = 59392,
        ID_VIEW_STATUS_BAR = 59393,
    };
    // Status bar panes of the date and the time.
    enum Pane { ID_INDICATOR_DATE = 103, ID_INDICATOR_TIME = 104 };
    static constexpr int kStatusTimerMs = 1000;
    static constexpr int kUpdateTimerMs = 250;

    CMainFrame(CTovikarApp& app, CTovikarDoc& doc, CTovikarView& view, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // ---- Commands ----
    QAction* Action(int command) const;
    // Runs a command as its menu item would, when it is enabled; false when
    // the command is unknown or disabled.
    bool Execute(int command);
    // The one place that sets every command's enabled and checked state.
    void UpdateCommandStates();

    // ---- Documents ----
    // New, Open, Save, Save As, the recent files and dropped documents, with
    // the frame's dialogs as their questions.
    CHDocCommands& Documents() { return *m_docs; }
    QMenu* FileMenu() const { return m_fileMenu; }

    // ---- Export ----
    // File > Export Messages writes what the provider gives; without one set,
    // the whole journal.
    using MessageProvider = std::function<std::vector<const CHJournalEntry*>()>;
    void SetMessageProvider(MessageProvider provider) { m_messages = std::move(provider); }
    // The export after its dialog; false (and a message box) when the file
    // cannot be written.
    bool ExportMessagesTo(const QString& path, ExportFormat format);

    // ---- Window state ----
    // What a close writes: the window rectangle (always, whatever
    // SaveWindowPosition says; the rest is skipped after a failed write),
    // the bar state and the recent files.
    void SaveWindowState();
    // The bar state written under [CMainFrame].
    void LoadBarState();
    // The notification icon's right click, or the Hide setting at start.
    void HideToTray();

    // ---- Status bar ----
    static QString DateText(std::time_t when);
    static QString TimeText(std::time_t when);
    QString PaneText(int pane) const;
    void UpdateStatusPanes();

    // ---- Reply script ----
    // Tools > Script (reload, open the script's folder) and the status pane
    // with the loaded script's name or "script error".
    void AttachScript(CHScriptEngine& script);
    QMenu* ScriptMenu() const { return m_scriptMenu; }
    QString ScriptPaneText() const;
    // A click on "script error" or "script stopped": the line that tells
    // why, selected in the event log.
    void ShowScriptStatusLine();
    // Tools > Faults: the fault rules with their fire counts (made on first use).
    CHFaultsPanel& FaultsPanel();

    // ---- Recording ----
    // "Recording to DIR" in the title and the status bar, and Tools > Stop
    // Recording, which calls `stop` once; both go when it has run.
    void AttachRecording(const QString& dir, std::function<void()> stop);
    QAction* StopRecordingAction() const { return m_stopRecording; }

    CTovikarForm& Form() const { return *m_form; }
    // View > Messages: every message as a row (hidden until asked for).
    CHMessageView& MessageView() const { return *m_messageView; }
    QDockWidget* MessagesDock() const { return m_messagesDock; }
    QToolBar* ToolBar() const { return m_toolBar; }
    CHTrayIcon& Tray() const { return *m_tray; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void createMessagesDock();
    void onCommand(int command);
    void onEngineStateChanged();
    void updateTitle();
    void rebuildRecentFileMenu();
    void cyclePane(int step);
    void showAbout();
    void exportMessages();

    CTovikarApp& m_app;
    CTovikarDoc& m_doc;
    CTovikarView& m_view;
    CTovikarForm* m_form;
    CHTrayIcon* m_tray;
    std::map<int, QAction*> m_actions;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    CHFaultsPanel* m_faultsPanel = nullptr;
    QMenu* m_scriptMenu = nullptr;
    QLabel* m_scriptPane = nullptr;
    CHScriptEngine* m_script = nullptr;
    QMenu* m_viewMenu = nullptr;
    QDockWidget* m_panelDock = nullptr; // the script's operator panel, "Equipment"
    QDockWidget* m_messagesDock = nullptr;
    CHMessageView* m_messageView = nullptr;
    QString m_recordingText; // "Recording to DIR" while recording, else empty
    QLabel* m_recordingPane = nullptr;
    QAction* m_stopRecording = nullptr;
    QAction* m_recentAnchor = nullptr;
    QList<QAction*> m_recentActions;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_datePane = nullptr;
    QLabel* m_timePane = nullptr;
    QTimer m_statusTimer;
    QTimer m_updateTimer;
    // The engine's inputs to the command states when they were last set.
    std::pair<bool, bool> m_engineStates{false, false};
    CHDocCommands* m_docs;
    MessageProvider m_messages;
};

} // namespace tovik
