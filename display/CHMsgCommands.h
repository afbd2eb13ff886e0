#pragma once
// The editing commands on the document's definitions: Message Property,
// Add New Message, Delete Message, Cut, Copy and Paste. They act on the row
// selected in the message list and keep a clipboard of one definition of
// their own (not the system clipboard), which outlives new and opened
// documents.
#include "CHOneMsg.h"

#include <QObject>

#include <memory>

class QWidget;

namespace tovik {

class CHEventLog;
class CHMsgListView;
class CHVeltSecsII;
class CTovikarDoc;

class CHMsgCommands : public QObject {
    Q_OBJECT
public:
    enum Command {
        ID_MESSAGE_PROPERTY = 32776,
        ID_ADD_NEW_MESSAGE = 32777,
        ID_DELETE_MESSAGE = 32778,
        ID_EDIT_COPY = 57634,
        ID_EDIT_CUT = 57635,
        ID_EDIT_PASTE = 57637,
    };

    CHMsgCommands(CTovikarDoc& doc, CHMsgListView& list, CHEventLog& log, CHVeltSecsII& scratch,
                  QWidget* sheetParent = nullptr, QObject* parent = nullptr);
    ~CHMsgCommands() override;

    void OnMessageProperty();
    void OnAddNewMessage();
    void OnDeleteMessage();
    void OnEditCut();
    void OnEditCopy();
    void OnEditPaste();

    // Runs the command of that id; false for an id that is not ours.
    bool Execute(int command);
    bool IsEnabled(int command) const;

    const CHOneMsg* ClipMessage() const { return m_pClipMsg.get(); }

Q_SIGNALS:
    // After the list's selection changed or a command changed what the
    // commands allow.
    void commandStatesChanged();

private:
    void appendAndEdit(std::unique_ptr<CHOneMsg> msg);
    // Takes the selected definition out of the document (Delete and Cut);
    // logs why and gives nothing when there is none.
    std::unique_ptr<CHOneMsg> takeSelected();
    bool rowSelected() const;

    CTovikarDoc& m_doc;
    CHMsgListView& m_list;
    CHEventLog& m_log;
    CHVeltSecsII& m_scratch;
    QWidget* m_sheetParent;
    std::unique_ptr<CHOneMsg> m_pClipMsg;
};

} // namespace tovik
