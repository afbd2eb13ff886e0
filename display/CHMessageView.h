#pragma once
// The "Messages" view: every message sent or received as a row (from the
// engine's journal, which it switches on), filters that apply as you type,
// Pause (the button or the space bar), and for the selected row its item
// tree, SML text, hex and what produced it. Row actions: Resend, Edit and
// Send, Save as Definition, Copy as SML, Copy as hex.
#include "CHMessageModel.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTreeWidget;

namespace tovik {

class CTovikarView;

class CHMessageView : public QWidget {
    Q_OBJECT
public:
    explicit CHMessageView(CTovikarView& view, QWidget* parent = nullptr);

    // The rows that pass the filter, oldest first.
    std::vector<const CHJournalEntry*> FilteredEntries() const { return m_model->Entries(); }
    CHMessageModel& Model() const { return *m_model; }
    QTableView& Table() const { return *m_table; }
    QTreeWidget& Tree() const { return *m_tree; }
    QLineEdit& PatternEdit() const { return *m_pattern; }
    QComboBox& DirectionList() const { return *m_direction; }
    QLineEdit& HostEdit() const { return *m_host; }
    QLineEdit& TextEdit() const { return *m_text; }
    QPushButton& PauseButton() const { return *m_pause; }
    QLabel& CountLabel() const { return *m_count; }
    QLabel& OriginLabel() const { return *m_origin; }
    QPlainTextEdit& SmlHexText() const { return *m_smlHex; }
    const CHJournalEntry* SelectedEntry() const;
    void SelectRow(int row);

    // The row actions on an entry. Resend and Edit and Send go through the
    // engine's Send pipeline as a new primary (a reply answers an open
    // primary as the Send command does); the journal id sent, 0 for none.
    quint64 Resend(const CHJournalEntry& e);
    quint64 EditAndSend(const CHJournalEntry& e);
    // Appends "SxFy #n" (the lowest free n) to the document; its name.
    QString SaveAsDefinition(const CHJournalEntry& e);
    void CopyAsSml(const CHJournalEntry& e) const;
    void CopyAsHex(const CHJournalEntry& e) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyFilter();
    void showSelected();
    void updateActions();
    QAction* rowAction(const QString& text, const QString& tip, std::function<void(const CHJournalEntry&)> run);
    // Loads the entry into a definition the Send pipeline takes.
    quint64 send(const CHJournalEntry& e, bool structure, const std::string& name, const std::string& text);

    CTovikarView& m_view;
    CHMessageModel* m_model;
    QLineEdit* m_pattern;
    QComboBox* m_direction;
    QLineEdit* m_host;
    QLineEdit* m_text;
    QPushButton* m_pause;
    QLabel* m_count;
    QTableView* m_table;
    QLabel* m_origin;
    QTreeWidget* m_tree;
    QPlainTextEdit* m_smlHex;
    QList<QAction*> m_rowActions;
    bool m_follow = true; // the table keeps the newest row in sight
};

} // namespace tovik
