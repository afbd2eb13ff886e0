#pragma once
// The event log on the form: a view on a CHEventLog. It follows the newest
// line while the user leaves the selection on it, keeps the user's line
// selected while older lines are trimmed, and offers copy, clear and a find
// box (Ctrl+F). It catches up with the log at most once per display frame.
#include <QColor>
#include <QListView>
#include <QPalette>
#include <QString>

#include <memory>

class QLineEdit;

namespace tovik {

class CHEventLog;
class CHEventLogModel;
class CHPaintTrace;

class CHListBoxOld : public QListView {
    Q_OBJECT
public:
    explicit CHListBoxOld(CHEventLog& log, QWidget* parent = nullptr);
    ~CHListBoxOld() override;

    CHEventLog& Log() const { return m_log; }

    // The row of the selected line as shown, -1 without one. The view shows
    // the log's changes once per display frame (or at Sync).
    int SelectedLine() const;
    void SelectLine(int row);
    void Sync();
    // Whether lines have been logged that the view does not show yet.
    bool SyncPending() const;
    // The log's index of the line a row shows, -1 when it is gone already.
    int LogLine(int row) const;

    // The selected lines in log order, joined by LF.
    QString SelectedText() const;
    void CopySelection() const;

    // Selects the next line after the selected one (or the previous one)
    // that holds `text`, ignoring letter case, wrapping around. False when
    // no line holds it; the selection stays then.
    bool FindNext(const QString& text, bool backwards = false);
    void ShowFindBox();
    QLineEdit* FindBox() const { return m_findBox; }

Q_SIGNALS:
    // After the view caught up with the log (rows and selection).
    void caughtUp();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void mirrorSelection();
    void shiftSelection(int lines);
    void userSelectionChanged();
    void followLines(int dropped, int appended);
    void postScroll();
    void placeFindBox();

    CHEventLog& m_log;
    CHEventLogModel* m_model;
    QLineEdit* m_findBox;
    std::unique_ptr<CHPaintTrace> m_trace;
    // The selected line of the log (-1 none), and a count that changes
    // whenever the log's rules chose a line rather than the user.
    int m_logSelected = -1;
    quint64 m_selectionSerial = 0;
    quint64 m_seenSerial = 0;
    bool m_mirroring = false;
    bool m_scrollPosted = false;
};

// The find box's colour when the text is not found: readable under both
// light and dark themes.
QColor NotFoundColor(const QPalette& palette);

} // namespace tovik
