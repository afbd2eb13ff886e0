#include "CHMsgCommands.h"

#include "CHEventLog.h"
#include "CHMsgEdit.h"
#include "CHMsgListView.h"
#include "CMsgProperty1.h"
#include "CTovikarDoc.h"

#include <messagebox.h>
#include "qbytetext.h"

#include <algorithm>

namespace tovik {

CHMsgCommands::CHMsgCommands(CTovikarDoc& doc, CHMsgListView& list, CHEventLog& log, CHVeltSecsII& scratch,
                             QWidget* sheetParent, QObject* parent)
    : QObject(parent), m_doc(doc), m_list(list), m_log(log), m_scratch(scratch), m_sheetParent(sheetParent) {
    // Four of the six commands depend on whether a row is selected.
    connect(&list, &QListWidget::itemSelectionChanged, this, &CHMsgCommands::commandStatesChanged);
}

CHMsgCommands::~CHMsgCommands() = default;

bool CHMsgCommands::rowSelected() const {
    return !m_list.SelectedName().isEmpty();
}

void CHMsgCommands::OnMessageProperty() {
    const QString name = m_list.SelectedName();
    if (name.isEmpty()) {
        m_log.AddText(QStringLiteral("No selected message."));
        return;
    }
    CHOneMsg* msg = m_doc.FindByName(BytesFromText(name));
    if (msg == nullptr) {
        m_log.AddText(QStringLiteral("Cannot find specified message '%1'."), name);
        return;
    }

    CMsgPropertySheet sheet(m_sheetParent);
    CMsgProperty1& page = sheet.Page();
    page.m_strMsgName = msg->m_strName;
    page.m_nMsgType = msg->m_bStructure ? 1 : 0;
    page.m_strMsgText = msg->m_strText;
    page.m_strMsgComment = msg->m_strComment;
    page.m_pCodec = &m_scratch;

    CHMsgEntries entries;
    for (;;) {
        if (!sheet.DoModal())
            return;
        entries = CHMsgEntries{page.m_strMsgName, page.m_nMsgType, page.m_strMsgText, page.m_strMsgComment};
        const EntryCheck check = CheckEntries(m_doc, *msg, entries);
        if (check == EntryCheck::Unchanged)
            return;
        if (check == EntryCheck::Accept)
            break;
        // The sheet comes back with the user's entries.
        showMessageBox(TextFromBytes(EntryCheckText(check, entries)), m_sheetParent);
    }

    ApplyEntries(*msg, entries, m_scratch);
    m_doc.SetModifiedFlag(true);
    m_list.RemoveSelectedRow();
    m_list.SelectRow(m_list.InsertMessageItem(msg));
    Q_EMIT commandStatesChanged();
}

void CHMsgCommands::appendAndEdit(std::unique_ptr<CHOneMsg> msg) {
    CHOneMsg* raw = msg.get();
    m_doc.AddMessage(std::move(msg));
    m_doc.SetModifiedFlag(true);
    m_list.SelectRow(m_list.InsertMessageItem(raw));
    Q_EMIT commandStatesChanged();
    // A cancel here keeps the definition as it was added.
    OnMessageProperty();
}

void CHMsgCommands::OnAddNewMessage() {
    auto msg = std::make_unique<CHOneMsg>();
    msg->m_strName = NewMessageName(m_doc);
    if (msg->m_strName.empty())
        return;
    appendAndEdit(std::move(msg));
}

std::unique_ptr<CHOneMsg> CHMsgCommands::takeSelected() {
    const QString name = m_list.SelectedName();
    if (name.isEmpty()) {
        m_log.AddText(QStringLiteral("No selected message."));
        return nullptr;
    }
    std::unique_ptr<CHOneMsg> removed = m_doc.RemoveByName(BytesFromText(name));
    if (!removed)
        m_log.AddText(QStringLiteral("Cannot delete specified message '%1'."), name);
    return removed;
}

void CHMsgCommands::OnDeleteMessage() {
    if (!takeSelected())
        return;
    m_doc.SetModifiedFlag(true);
    const int row = m_list.RemoveSelectedRow();
    // The row that moved into the gap, or the new last row.
    m_list.SelectRow(std::min(row, m_list.count() - 1));
    Q_EMIT commandStatesChanged();
}

void CHMsgCommands::OnEditCut() {
    std::unique_ptr<CHOneMsg> removed = takeSelected();
    if (!removed)
        return;
    m_pClipMsg = std::move(removed);
    m_doc.SetModifiedFlag(true);
    m_list.RemoveSelectedRow();
    m_list.SelectRow(-1);
    Q_EMIT commandStatesChanged();
}

void CHMsgCommands::OnEditCopy() {
    const QString name = m_list.SelectedName();
    if (name.isEmpty()) {
        m_log.AddText(QStringLiteral("No selected message."));
        return;
    }
    const CHOneMsg* msg = m_doc.FindByName(BytesFromText(name));
    if (msg == nullptr)
        return;
    m_pClipMsg = std::make_unique<CHOneMsg>(*msg);
    Q_EMIT commandStatesChanged();
}

void CHMsgCommands::OnEditPaste() {
    if (!m_pClipMsg)
        return;
    auto msg = std::make_unique<CHOneMsg>(*m_pClipMsg);
    msg->m_strName = PasteName(m_doc, m_pClipMsg->m_strName);
    if (msg->m_strName.empty())
        return;
    appendAndEdit(std::move(msg));
}

bool CHMsgCommands::Execute(int command) {
    switch (command) {
    case ID_MESSAGE_PROPERTY:
        OnMessageProperty();
        return true;
    case ID_ADD_NEW_MESSAGE:
        OnAddNewMessage();
        return true;
    case ID_DELETE_MESSAGE:
        OnDeleteMessage();
        return true;
    case ID_EDIT_CUT:
        OnEditCut();
        return true;
    case ID_EDIT_COPY:
        OnEditCopy();
        return true;
    case ID_EDIT_PASTE:
        OnEditPaste();
        return true;
    default:
        return false;
    }
}

bool CHMsgCommands::IsEnabled(int command) const {
    switch (command) {
    case ID_ADD_NEW_MESSAGE:
        return true;
    case ID_MESSAGE_PROPERTY:
    case ID_DELETE_MESSAGE:
    case ID_EDIT_CUT:
    case ID_EDIT_COPY:
        return rowSelected();
    case ID_EDIT_PASTE:
        return m_pClipMsg != nullptr;
    default:
        return false;
    }
}

} // namespace tovik
